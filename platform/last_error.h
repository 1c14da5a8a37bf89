// The thread's last-error value, with Win32 numbering, and the system's
// message text for a code.
#pragma once
#include <cstdint>
#include "platform/win_types.h"

namespace plat {

uint32_t GetLastError();
void SetLastError(uint32_t code);

// The system's text for an error code, ending in "\r\n" as FormatMessage
// texts do; empty when the system has no text for the code.
WString FormatSystemMessage(uint32_t code);
// Our own text for a code, in the same form; what FormatSystemMessage gives
// on POSIX and where Windows has no text.
WString SystemMessageText(uint32_t code);

}  // namespace plat
