// The work area in which the archive decodes its one open entry, and the
// register-aware allocation pair of the inflate stream.
#pragma once
#include <cstdint>
#include <vector>
#include <zlib.h>
#include "upk4/byte_block.h"

// Blocks that the inflate stream holds at the moment, so that an extraction
// broken off by an error can still give them all back.
using AllocationRegister = std::vector<void*>;

// zlib's alloc_func/free_func: opaque is the AllocationRegister or null.
voidpf RegisterAwareAlloc(voidpf opaque, uInt items, uInt size);
void RegisterAwareFree(voidpf opaque, voidpf block);
// Frees every block listed in the register and empties it.
void FreeRegisteredBlocks(AllocationRegister& blocks);

class DecodeState {
 public:
  DecodeState();
  virtual ~DecodeState() = default;
  DecodeState(const DecodeState&) = delete;
  DecodeState& operator=(const DecodeState&) = delete;

  uint32_t readBufferSize = 16384;
  z_stream stream{};
  uint64_t uncompressedLeft = 0;
  uint64_t compressedLeft = 0;
  uint32_t runningCrc = 0;
  ByteBlock readBuffer;
};
