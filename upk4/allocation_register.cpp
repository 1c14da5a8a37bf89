#include "upk4/allocation_register.h"
#include <algorithm>
#include <cstdlib>
#include <limits>

voidpf RegisterAwareAlloc(voidpf opaque, uInt items, uInt size) {
  if (size != 0 && items > std::numeric_limits<size_t>::max() / size) return Z_NULL;
  void* block = std::malloc(static_cast<size_t>(items) * size);
  if (block == nullptr || opaque == nullptr) return block;
  try {
    static_cast<AllocationRegister*>(opaque)->push_back(block);
  } catch (...) {
    // zlib is C: nothing may be thrown through it. An unlisted block would
    // be lost after an error, so the allocation fails instead.
    std::free(block);
    return Z_NULL;
  }
  return block;
}

void RegisterAwareFree(voidpf opaque, voidpf block) {
  if (opaque != nullptr) {
    auto& blocks = *static_cast<AllocationRegister*>(opaque);
    auto it = std::find(blocks.begin(), blocks.end(), block);
    if (it != blocks.end()) blocks.erase(it);
  }
  std::free(block);
}

void FreeRegisteredBlocks(AllocationRegister& blocks) {
  for (void* block : blocks) std::free(block);
  blocks.clear();
}
