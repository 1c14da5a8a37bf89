// The computer restart and the privilege it needs. On POSIX the privilege is
// being root or holding CAP_SYS_BOOT, and the restart runs the shell command
// in UPK_RESTART_COMMAND when that variable is set, else the system's reboot
// command.
#pragma once
#include <cstdint>
#include "platform/win_types.h"

namespace plat {

// GetVersion-style: true for the NT family (always on POSIX).
bool IsNtFamily();
uint32_t GetMajorVersion();

// OpenProcessToken + AdjustTokenPrivileges for the shutdown privilege.
// Returns false when the token cannot be opened; otherwise true with the
// last error set as AdjustTokenPrivileges leaves it (0, or
// ERROR_NOT_ALL_ASSIGNED when the privilege is not held).
bool EnableShutdownPrivilege();
// ExitWindowsEx(EWX_REBOOT | EWX_FORCE): true when the restart was started;
// false with the last error set.
bool RequestRestart(bool force);

}  // namespace plat
