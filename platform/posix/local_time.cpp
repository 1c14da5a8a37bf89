// Calendar time and MS-DOS date/time conversion through the C runtime.
#include "platform/local_time.h"

#include <cerrno>
#include <ctime>

namespace plat {

CalendarTime CurrentTime() { return static_cast<CalendarTime>(std::time(nullptr)); }

CalendarTime DosDateTimeToLocalTime(uint16_t dosDate, uint16_t dosTime) {
  std::tm tm{};
  tm.tm_sec = (dosTime & 0x1F) * 2;
  tm.tm_min = (dosTime >> 5) & 0x3F;
  tm.tm_hour = (dosTime >> 11) & 0x1F;
  tm.tm_mday = dosDate & 0x1F;
  tm.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
  tm.tm_year = 80 + ((dosDate >> 9) & 0x7F);
  tm.tm_isdst = -1;
  return static_cast<CalendarTime>(std::mktime(&tm));
}

void Sleep(uint32_t milliseconds) {
  struct timespec remaining;
  remaining.tv_sec = milliseconds / 1000;
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace plat
