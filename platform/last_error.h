// The thread's last-error value, with Win32 numbering, and the system's
// message text for a code.
#pragma once
#include <cstdint>
#include "platform/win_types.h"

namespace plat {

uint32_t GetLastError();
void SetLastError(uint32_t code);

// Maps a POSIX errno value to the Win32 error number (0 maps to 0).
uint32_t ErrnoToWin32(int err);
// Sets the last error from errno and returns the mapped value.
uint32_t SetLastErrorFromErrno(int err);

// The system's text for an error code, ending in "\r\n" as FormatMessage
// texts do; empty when the system has no text for the code.
WString FormatSystemMessage(uint32_t code);

}  // namespace plat
