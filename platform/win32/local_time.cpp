// Win32 system calls: sleeping.
#include "platform/win32/windows_api.h"

#include "platform/local_time.h"

namespace plat {

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace plat
