// Win32: pages come on first touch; there is no call that makes them
// present ahead of it for the process's own heap.
#include "platform/memory.h"

namespace plat {

void PopulateMemory(void*, size_t) {}

}  // namespace plat
