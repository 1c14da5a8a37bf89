#include "upk4/byte_block.h"
#include <cstring>
#include "platform/memory.h"

namespace {

// Large blocks are filled whole right away (the directory, the read buffer,
// the transfer blocks): their pages are made present in one call.
constexpr uint32_t kPopulateFrom = 64 * 1024;

}  // namespace

uint8_t* ByteBlock::Allocate(uint32_t newSize, bool zero) {
  if (newSize != size) {
    Release();
    if (newSize != 0) {
      data = new uint8_t[newSize];
      size = newSize;
      if (size >= kPopulateFrom) plat::PopulateMemory(data, size);
      if (zero) std::memset(data, 0, size);
    }
  } else if (zero && size != 0) {
    std::memset(data, 0, size);
  }
  return data;
}

void ByteBlock::Release() {
  delete[] data;
  data = nullptr;
  size = 0;
}

ByteBlock& ByteBlock::operator=(const ByteBlock& other) {
  if (this == &other) return *this;
  Release();
  if (other.size != 0) {
    Allocate(other.size, false);
    std::memcpy(data, other.data, size);
  }
  return *this;
}
