// What a run directory's protection and an owner must be on Windows, decided
// over SIDs in their string form ("S-1-5-18"), so that the rules are the same
// on every system and can be tried with owners that no test machine has.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

inline constexpr char kSystemSid[] = "S-1-5-18";
inline constexpr char kAdministratorsSid[] = "S-1-5-32-544";

// One entry of an access list as the system reports it.
struct AccessEntry {
  std::string sid;
  uint32_t mask = 0;
  bool allows = true;  // false: an entry that denies
};

// A directory belongs to the user when its own owner (not a link's target)
// is the token's user: a group the user belongs to is not enough, since every
// administrator is in Administrators and so is the owner another one made.
bool IsOwnedBy(const std::string& ownerSid, const std::string& userSid);

// Whether a directory with this owner and access list is the run's own:
// owned by the user, and nothing granted to anyone but the user, SYSTEM and
// Administrators. Checked for what it means, not its exact form, since a
// system may report the list in another shape than the one asked for.
bool IsPrivateRunDirectory(const std::string& ownerSid, const std::vector<AccessEntry>& entries,
                           const std::string& userSid);

}  // namespace plat
