// Win32 system calls: the token's user, the run directory's security
// descriptor, and what an object's owner and access list are. The decisions
// over them are common (platform/access_model.h).
#pragma once
#include "platform/win32/windows_api.h"

#include <string>
#include <vector>

#include "platform/access_model.h"

namespace plat::win32 {

// The process token's user SID in string form; empty when it cannot be had.
const std::string& TokenUserSid();

// A security descriptor for a new run directory: owner the token's user;
// full control, inherited by files and subdirectories, for that user, SYSTEM
// and Administrators; nothing inherited from the parent.
class PrivateSecurity {
 public:
  PrivateSecurity();
  bool valid() const { return m_valid; }
  SECURITY_ATTRIBUTES* attributes() { return m_valid ? &m_attributes : nullptr; }

 private:
  bool m_valid = false;
  std::vector<unsigned char> m_user, m_system, m_administrators, m_acl;
  SECURITY_DESCRIPTOR m_descriptor{};
  SECURITY_ATTRIBUTES m_attributes{};
};

// The owner and access list of an open object. False when the system keeps
// none (a file system without security) or cannot tell.
bool ReadOwnerAndAccess(HANDLE object, std::string* ownerSid, std::vector<AccessEntry>* entries);

// Whether the volume that holds the open object keeps owners and access
// lists (FAT does not).
bool VolumeKeepsSecurity(HANDLE object);

}  // namespace plat::win32
