// The owner and access-list rules for directories in a shared temporary path.
#include "platform/access_model.h"

namespace plat {

bool IsOwnedBy(const std::string& ownerSid, const std::string& userSid) {
  return !ownerSid.empty() && ownerSid == userSid;
}

bool IsPrivateRunDirectory(const std::string& ownerSid, const std::vector<AccessEntry>& entries,
                           const std::string& userSid) {
  if (!IsOwnedBy(ownerSid, userSid)) return false;
  for (const AccessEntry& entry : entries) {
    if (!entry.allows || entry.mask == 0) continue;  // taking away is always fine
    if (entry.sid != userSid && entry.sid != kSystemSid && entry.sid != kAdministratorsSid) {
      return false;
    }
  }
  return true;
}

}  // namespace plat
