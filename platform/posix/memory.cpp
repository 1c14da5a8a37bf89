// POSIX system calls: pages made present ahead of first touch.
#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>
#include <cstdint>

namespace plat {

void PopulateMemory(void* data, size_t size) {
#ifdef MADV_POPULATE_WRITE
  if (data == nullptr || size == 0) return;
  static const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const uintptr_t start = reinterpret_cast<uintptr_t>(data) & ~(page - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(data) + size;
  // Systems before Linux 5.14 refuse the advice; the pages then come on
  // first touch.
  ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace plat
