// The same on every system: Windows' MulDiv, in 64-bit arithmetic.
#include <cstdint>

#include "platform/window.h"

namespace plat {

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  int64_t product = static_cast<int64_t>(a) * b;
  int64_t divisor = c;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  // Round half away from zero.
  int64_t half = divisor / 2;
  int64_t result = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
  if (result > INT32_MAX || result < INT32_MIN) return -1;
  return static_cast<int32_t>(result);
}

}  // namespace plat
