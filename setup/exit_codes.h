// Exit codes, error codes and their width on this system.
#pragma once
#include <cstdint>

namespace setup {

inline constexpr int32_t kRebootRequired = 3010;   // ERROR_SUCCESS_REBOOT_REQUIRED
inline constexpr int32_t kRebootInitiated = 1641;  // ERROR_SUCCESS_REBOOT_INITIATED
inline constexpr int32_t kUserCancelled = 1602;    // ERROR_INSTALL_USEREXIT
inline constexpr int32_t kInstallFailure = 1603;   // ERROR_INSTALL_FAILURE
inline constexpr int32_t kNotFound = 1168;         // ERROR_NOT_FOUND

// A POSIX exit status carries only the low 8 bits of a code, so a setup
// program's 1641 arrives as 105 there; codes are compared in that width.
#if defined(_WIN32)
inline constexpr uint32_t kExitStatusMask = 0xFFFFFFFFu;
#else
inline constexpr uint32_t kExitStatusMask = 0xFFu;
#endif

inline bool IsExitCode(int32_t observed, int32_t code) {
  return (static_cast<uint32_t>(observed) & kExitStatusMask) ==
         (static_cast<uint32_t>(code) & kExitStatusMask);
}

}  // namespace setup
