// An owned, resizable block of bytes. The data pointer and the size are open
// to callers, who read and write the bytes in place. Sixteen bytes: every
// entry of a directory holds three of them.
#pragma once
#include <cstdint>

class ByteBlock {
 public:
  ByteBlock() = default;
  ByteBlock(uint32_t size, bool zero) { Allocate(size, zero); }
  ByteBlock(const ByteBlock& other) { *this = other; }
  ByteBlock& operator=(const ByteBlock& other);
  ~ByteBlock() { Release(); }

  // Resizes to size bytes. A different size loses the former contents; the
  // same size keeps the block (zeroing it when asked). Returns the block,
  // null when empty. Throws std::bad_alloc (the buffer is then empty).
  uint8_t* Allocate(uint32_t size, bool zero);
  void Release();

  uint8_t* data = nullptr;  // owned (new[]); absent exactly when size is 0
  uint32_t size = 0;
};
