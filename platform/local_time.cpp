// The same on every system: calendar time and MS-DOS date/time through the
// C runtime, which decides about daylight saving time on both.
#include "platform/local_time.h"

#include <ctime>

namespace plat {

CalendarTime CurrentTime() { return static_cast<CalendarTime>(std::time(nullptr)); }

std::tm DosDateTimeFields(uint16_t dosDate, uint16_t dosTime) {
  std::tm tm{};
  tm.tm_sec = (dosTime & 0x1F) * 2;
  tm.tm_min = (dosTime >> 5) & 0x3F;
  tm.tm_hour = (dosTime >> 11) & 0x1F;
  tm.tm_mday = dosDate & 0x1F;
  tm.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
  tm.tm_year = 80 + ((dosDate >> 9) & 0x7F);
  tm.tm_isdst = -1;
  return tm;
}

CalendarTime DosDateTimeToLocalTime(uint16_t dosDate, uint16_t dosTime) {
  return LocalFieldsToTime(DosDateTimeFields(dosDate, dosTime));
}

}  // namespace plat
