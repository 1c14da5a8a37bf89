// Win32 system calls: whether a standard stream is a console.
#include "platform/win32/windows_api.h"

#include "platform/console.h"

namespace plat {

bool IsTerminal(StandardStream stream) {
  const DWORD which = stream == StandardStream::Input    ? STD_INPUT_HANDLE
                      : stream == StandardStream::Output ? STD_OUTPUT_HANDLE
                                                         : STD_ERROR_HANDLE;
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) == FILE_TYPE_CHAR;
}

}  // namespace plat
