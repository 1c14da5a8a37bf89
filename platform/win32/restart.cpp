// Win32 system calls: the version, the shutdown privilege and the restart.
#include "platform/win32/windows_api.h"

#include <cstdlib>

#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/restart.h"

namespace plat {
namespace {

// Wine ends every process of its prefix on ExitWindowsEx, the test runner
// included: there the restart is never asked of the system.
bool RunsUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

bool IsNtFamily() { return (::GetVersion() & 0x80000000u) == 0; }

uint32_t GetMajorVersion() { return ::GetVersion() & 0xFFu; }

bool EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return false;
  }
  win32::ScopedHandle owned(token);
  TOKEN_PRIVILEGES privileges{};
  if (!::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
    return true;  // the last error tells
  }
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  return true;
}

bool RequestRestart(bool force) {
#if defined(UPK_TEST_HOOKS)
  // Test builds only: with UPK_RESTART_COMMAND set the restart runs that
  // program instead (nothing when it is empty or "true"), as on POSIX.
  if (const char* command = std::getenv("UPK_RESTART_COMMAND")) {
    const std::string text = command;
    if (text.empty() || text == "true") return true;
    uint32_t code = 0;
    const WString line(text.begin(), text.end());
    if (!RunProcessAndWait(line, &code)) return false;
    if (code != 0) ::SetLastError(ERROR_GEN_FAILURE);
    return code == 0;
  }
#endif
  if (RunsUnderWine()) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  const UINT flags = EWX_REBOOT | (force ? EWX_FORCE : 0);
  return ::ExitWindowsEx(flags, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                    SHTDN_REASON_FLAG_PLANNED) != FALSE;
}

}  // namespace plat
