// The system's codes that Setup gives as its exit code or adds to the error
// list, and the width in which exit codes compare on this system.
#pragma once
#include <cstdint>
#include "platform/win_types.h"

namespace setup {

inline constexpr int32_t kRebootRequired = plat::ERROR_SUCCESS_REBOOT_REQUIRED;
inline constexpr int32_t kRebootInitiated = plat::ERROR_SUCCESS_REBOOT_INITIATED;
inline constexpr int32_t kUserCancelled = plat::ERROR_INSTALL_USEREXIT;
inline constexpr int32_t kInstallFailure = plat::ERROR_INSTALL_FAILURE;
inline constexpr int32_t kNotFound = plat::ERROR_NOT_FOUND;

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
