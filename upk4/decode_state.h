// The work area in which the archive decodes its one open entry.
#pragma once
#include <cstdint>
#include "upk4/allocation_register.h"
#include "upk4/byte_block.h"
#include "upk4/inflater.h"

class DecodeState {
 public:
  DecodeState() = default;
  virtual ~DecodeState() = default;
  DecodeState(const DecodeState&) = delete;
  DecodeState& operator=(const DecodeState&) = delete;

  uint32_t readBufferSize = 16384;
  Inflater inflater;
  uint64_t uncompressedLeft = 0;
  uint64_t compressedLeft = 0;
  uint32_t runningCrc = 0;
  // The extraction takes the CRC-32 of what is read (beside the write) and
  // sets runningCrc itself.
  bool crcByCaller = false;
  ByteBlock readBuffer;
  uint16_t entryIndex = 0;  // of the open entry, to start it again
  // The fast inflater decodes once the deflated entries opened so far claim
  // this much output in all (0: from the first), so that reading a few
  // small entries never pays for loading it.
  uint64_t fastInflaterFrom = 0;
  uint64_t deflatedClaimed = 0;
};
