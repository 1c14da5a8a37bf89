// POSIX errno values as Win32 error numbers; the POSIX backend's own.
#pragma once
#include <cstdint>

namespace plat {

// Maps a POSIX errno value to the Win32 error number (0 maps to 0).
uint32_t ErrnoToWin32(int err);
// Sets the last error from errno and returns the mapped value.
uint32_t SetLastErrorFromErrno(int err);

}  // namespace plat
