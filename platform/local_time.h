// Calendar times: the current time and MS-DOS date/time as local time.
#pragma once
#include <cstdint>
#include <ctime>
#include "platform/win_types.h"

namespace plat {

CalendarTime CurrentTime();
// The MS-DOS date and time taken as local time, with the C runtime deciding
// about daylight saving time (mktime with tm_isdst = -1). Fields out of range
// are normalised the way mktime does.
CalendarTime DosDateTimeToLocalTime(uint16_t dosDate, uint16_t dosTime);
// The fields of an MS-DOS date and time, tm_isdst = -1.
std::tm DosDateTimeFields(uint16_t dosDate, uint16_t dosTime);
// mktime() of the fields (tm_isdst = -1: the zone decides), the same answer
// from each system's fastest way to it.
CalendarTime LocalFieldsToTime(const std::tm& fields);

void Sleep(uint32_t milliseconds);

}  // namespace plat
