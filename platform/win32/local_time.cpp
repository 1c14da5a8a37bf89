// Win32 system calls: sleeping, and local time through the C runtime.
#include "platform/win32/windows_api.h"

#include "platform/local_time.h"

#include <ctime>

namespace plat {

CalendarTime LocalFieldsToTime(const std::tm& fields) {
  std::tm copy = fields;
  return static_cast<CalendarTime>(std::mktime(&copy));
}

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace plat
