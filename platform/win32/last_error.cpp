// Win32 system calls: the thread's last error is the system's own, and
// FormatMessageW gives the texts, ours where the system has none.
#include "platform/win32/windows_api.h"

#include "platform/last_error.h"

namespace plat {

uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

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
