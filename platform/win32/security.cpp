// Win32 system calls: SIDs, security descriptors and access lists.
#include "platform/win32/security.h"

#include <aclapi.h>
#include <sddl.h>

namespace plat::win32 {
namespace {

std::string SidString(PSID sid) {
  LPWSTR text = nullptr;
  if (!sid || !::ConvertSidToStringSidW(sid, &text)) return {};
  std::string out;
  for (const wchar_t* p = text; *p; ++p) out += static_cast<char>(*p);  // ASCII: S-1-5-...
  ::LocalFree(text);
  return out;
}

std::vector<unsigned char> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  std::vector<unsigned char> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
  sid.resize(size);
  return sid;
}

std::vector<unsigned char> TokenUser() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  ScopedHandle owned(token);
  DWORD size = 0;
  ::GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !::GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  std::vector<unsigned char> out(::GetLengthSid(sid));
  if (!::CopySid(static_cast<DWORD>(out.size()), out.data(), sid)) return {};
  return out;
}

}  // namespace

const std::string& TokenUserSid() {
  static const std::string sid = [] {
    std::vector<unsigned char> user = TokenUser();
    return user.empty() ? std::string() : SidString(user.data());
  }();
  return sid;
}

PrivateSecurity::PrivateSecurity()
    : m_user(TokenUser()),
      m_system(WellKnownSid(WinLocalSystemSid)),
      m_administrators(WellKnownSid(WinBuiltinAdministratorsSid)) {
  if (m_user.empty() || m_system.empty() || m_administrators.empty()) return;
  DWORD size = sizeof(ACL);
  for (const auto* sid : {&m_user, &m_system, &m_administrators}) {
    size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(sid->size());
  }
  m_acl.resize(size);
  auto* acl = reinterpret_cast<PACL>(m_acl.data());
  if (!::InitializeAcl(acl, size, ACL_REVISION)) return;
  for (auto* sid : {&m_user, &m_system, &m_administrators}) {
    if (!::AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                 FILE_ALL_ACCESS, sid->data())) {
      return;
    }
  }
  // The owner is set explicitly: an elevated administrator's default owner
  // is the Administrators group, which every other administrator shares.
  if (!::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorOwner(&m_descriptor, m_user.data(), FALSE) ||
      !::SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) ||
      !::SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return;
  }
  m_attributes.nLength = sizeof(m_attributes);
  m_attributes.lpSecurityDescriptor = &m_descriptor;
  m_attributes.bInheritHandle = FALSE;
  m_valid = true;
}

bool ReadOwnerAndAccess(HANDLE object, std::string* ownerSid, std::vector<AccessEntry>* entries) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(object, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  *ownerSid = SidString(owner);
  entries->clear();
  if (!dacl) {
    entries->push_back({"S-1-1-0", FILE_ALL_ACCESS, true});  // no list: everyone may do anything
  } else {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!::GetAce(dacl, i, &ace)) continue;
      const auto* header = static_cast<ACE_HEADER*>(ace);
      if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        entries->push_back({SidString(&allowed->SidStart), allowed->Mask, true});
      } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
        auto* denied = static_cast<ACCESS_DENIED_ACE*>(ace);
        entries->push_back({SidString(&denied->SidStart), denied->Mask, false});
      } else {
        // A kind this check does not read may grant anything to anyone.
        entries->push_back({"?", FILE_ALL_ACCESS, true});
      }
    }
  }
  ::LocalFree(descriptor);
  return !ownerSid->empty();
}

bool VolumeKeepsSecurity(HANDLE object) {
  DWORD flags = 0;
  if (!::GetVolumeInformationByHandleW(object, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
    return true;  // cannot tell: hold it to the rule
  }
  return (flags & FILE_PERSISTENT_ACLS) != 0;
}

}  // namespace plat::win32
