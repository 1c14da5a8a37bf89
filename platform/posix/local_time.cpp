// POSIX system calls: sleeping.
#include "platform/local_time.h"

#include <cerrno>
#include <time.h>

namespace plat {

void Sleep(uint32_t milliseconds) {
  struct timespec remaining;
  remaining.tv_sec = milliseconds / 1000;
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace plat
