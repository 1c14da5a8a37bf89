// Raw-deflate decoding behind one face. Two backends: ISA-L where the build
// finds it (several times faster), zlib everywhere else. Both give zlib's
// result codes, so the error model cannot tell them apart:
//   Z_OK          progress (input taken or output given)
//   Z_STREAM_END  the final block has ended; every later call says so again
//   Z_BUF_ERROR   no progress was possible
//   Z_DATA_ERROR  damaged data; every later call says so again
//   Z_MEM_ERROR   the state could not be allocated (Init only)
// The state comes from RegisterAwareAlloc with the register given to Init.
#pragma once
#include <cstdint>
#include <zlib.h>
#include "upk4/allocation_register.h"

// The buffers of one call, as the caller hands them over and gets them back.
struct InflateBuffers {
  const uint8_t* nextIn = nullptr;
  uint32_t availIn = 0;
  uint8_t* nextOut = nullptr;
  uint32_t availOut = 0;
};

class ZlibInflater : public InflateBuffers {
 public:
  ZlibInflater();
  int Init(AllocationRegister* blocks);
  int Inflate();
  void End();
  // The register has already given the memory back: only the handle goes.
  void Forget();

 private:
  z_stream stream_{};
  bool active_ = false;
};

#ifdef UPK_WITH_ISAL
struct inflate_state;

class IsalInflater : public InflateBuffers {
 public:
  int Init(AllocationRegister* blocks);
  int Inflate();
  void End();
  void Forget() { state_ = nullptr; }

 private:
  inflate_state* state_ = nullptr;
  AllocationRegister* blocks_ = nullptr;
  int sticky_ = Z_OK;  // Z_STREAM_END or Z_DATA_ERROR once reached
};
using Inflater = IsalInflater;
#else
using Inflater = ZlibInflater;
#endif

// CRC-32 (polynomial 0xEDB88320) of size bytes continued from crc, as zlib's
// crc32 gives it; carry-less multiplication with ISA-L.
uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t size);
