// Win32 system calls: FormatMessageW gives the texts of error codes, ours
// where the system has none.
#include "platform/win32/windows_api.h"

#include "platform/last_error.h"

namespace plat {

WString FormatSystemMessage(uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return SystemMessageText(code);
  WString message = win32::FromWide(text, length);
  ::LocalFree(text);
  if (message.size() < 2 || message.compare(message.size() - 2, 2, u"\r\n") != 0) {
    message += u"\r\n";
  }
  return message;
}

}  // namespace plat
