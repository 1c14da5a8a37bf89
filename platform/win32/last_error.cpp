// Win32 system calls: the thread's last error is the system's own.
#include "platform/win32/windows_api.h"

#include "platform/last_error.h"

namespace plat {

uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

}  // namespace plat
