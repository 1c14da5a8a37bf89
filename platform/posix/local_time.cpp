// POSIX system calls: sleeping, and local time without reading the time zone
// for every conversion.
#include "platform/local_time.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <time.h>

namespace plat {
namespace {

// glibc's mktime() reads the zone again on every call (a stat() of
// /etc/localtime per extracted file when TZ is unset); localtime_r() uses the
// zone read last. It is read here once, and again whenever TZ changes.
void ReadZoneIfTzChanged() {
  static std::mutex lock;
  static bool read = false, tzSet = false;
  static std::string tz;
  const std::lock_guard<std::mutex> guard(lock);
  const char* now = std::getenv("TZ");
  if (read && (now != nullptr) == tzSet && (now == nullptr || tz == now)) return;
  ::tzset();
  read = true;
  tzSet = now != nullptr;
  tz = now != nullptr ? now : "";
}

bool SameWallClock(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
         a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

// The zone's offset from UTC at t, with whether daylight saving time holds.
bool OffsetAt(time_t t, long* offset, int* dst) {
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr) return false;
  *offset = local.tm_gmtoff;
  *dst = local.tm_isdst;
  return true;
}

}  // namespace

CalendarTime LocalFieldsToTime(const std::tm& fields) {
  ReadZoneIfTzChanged();
  // The fields normalised as mktime() would, read as UTC: the wall clock.
  std::tm wall = fields;
  wall.tm_isdst = 0;
  errno = 0;
  const time_t asUtc = ::timegm(&wall);
  if (asUtc != static_cast<time_t>(-1) || errno == 0) {
    long offset = 0, check = 0;
    int dst = 0, checkDst = 0;
    if (OffsetAt(asUtc, &offset, &dst)) {
      const time_t t = asUtc - offset;
      std::tm local{};
      // The answer when the wall clock reads so at t and the zone keeps its
      // offset for longer than any change could move it (zones differ by at
      // most 26 hours): then t is the only time that reads so. Near a change
      // of offset, mktime() decides.
      constexpr time_t kWidestChange = 26 * 3600;
      if (::localtime_r(&t, &local) != nullptr && SameWallClock(local, wall) &&
          local.tm_gmtoff == offset && local.tm_isdst == dst &&
          OffsetAt(t - kWidestChange, &check, &checkDst) && check == offset && checkDst == dst &&
          OffsetAt(t + kWidestChange, &check, &checkDst) && check == offset && checkDst == dst)
        return static_cast<CalendarTime>(t);
    }
  }
  std::tm copy = fields;
  return static_cast<CalendarTime>(std::mktime(&copy));
}

void Sleep(uint32_t milliseconds) {
  struct timespec remaining;
  remaining.tv_sec = milliseconds / 1000;
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace plat
