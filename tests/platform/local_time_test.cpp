// The conversion of MS-DOS date and time must give exactly what mktime()
// gives, in zones with and without daylight saving time, at and around
// their changes, and with fields out of range.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/local_time.h"

using namespace plat;

namespace {

uint16_t DosDate(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

// The reference: the C runtime's own mktime() of the same fields.
time_t ByMktime(uint16_t date, uint16_t time) {
  std::tm tm = DosDateTimeFields(date, time);
  return std::mktime(&tm);
}

// Sets TZ for the test and restores what was there.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_old = old, m_had = true;
    // Not read here: the conversion must notice the new zone by itself.
    ::setenv("TZ", zone, 1);
  }
  ~ZoneScope() {
    if (m_had) ::setenv("TZ", m_old.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  std::string m_old;
  bool m_had = false;
};

}  // namespace

TEST(LocalTime, SameAsMktimeAroundEveryKindOfChange) {
  struct Day {
    int year, month, day;
  };
  // Spring and autumn changes, a half-hour change, a skipped calendar day,
  // a change of standard offset, and days far from any change.
  const std::vector<Day> days = {
      {2021, 3, 28}, {2021, 10, 31}, {2021, 3, 14}, {2021, 11, 7}, {2021, 4, 4},
      {2021, 10, 3}, {2011, 12, 29}, {2011, 12, 30}, {2011, 12, 31}, {2014, 10, 26},
      {1980, 1, 1},  {2107, 12, 31}, {2000, 2, 29},  {2021, 7, 1}};
  for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe",
                           "Pacific/Apia", "Europe/Moscow", "EST5EDT,M3.2.0,M11.1.0",
                           "<+0530>-5:30"}) {
    ZoneScope scope(zone);
    for (const Day& d : days) {
      for (int minute = 0; minute < 24 * 60; minute += 10) {
        const uint16_t date = DosDate(d.year, d.month, d.day);
        const uint16_t time = DosTime(minute / 60, minute % 60, (minute * 7) % 60);
        ASSERT_EQ(DosDateTimeToLocalTime(date, time), ByMktime(date, time))
            << zone << " " << d.year << "-" << d.month << "-" << d.day << " " << minute / 60
            << ":" << minute % 60;
      }
    }
  }
}

TEST(LocalTime, FieldsOutOfRangeAreNormalisedAsMktimeDoes) {
  ZoneScope scope("Europe/Berlin");
  // Day 0, month 0 and 13 to 15, hour 24 to 31, minute 60 to 63, second 60 and 62.
  for (int month : {0, 1, 3, 12, 13, 15}) {
    for (int day : {0, 1, 31}) {
      for (int hour : {0, 2, 23, 24, 31}) {
        for (int minute : {0, 59, 63}) {
          const uint16_t date = static_cast<uint16_t>((41 << 9) | (month << 5) | day);
          const uint16_t time = static_cast<uint16_t>((hour << 11) | (minute << 5) | 31);
          ASSERT_EQ(DosDateTimeToLocalTime(date, time), ByMktime(date, time))
              << month << " " << day << " " << hour << " " << minute;
        }
      }
    }
  }
}

TEST(LocalTime, ANewZoneInTzIsHonoured) {
  // The zone is read once, not per call; a change of TZ is still seen.
  const uint16_t date = DosDate(2021, 7, 1), time = DosTime(12, 0, 0);
  CalendarTime utc = 0, berlin = 0;
  {
    ZoneScope scope("UTC");
    utc = DosDateTimeToLocalTime(date, time);
  }
  {
    ZoneScope scope("Europe/Berlin");
    berlin = DosDateTimeToLocalTime(date, time);
  }
  EXPECT_EQ(utc - berlin, 2 * 3600);
}
