// Raw-deflate decoding behind one face. Two backends: ISA-L where the build
// finds it (more than twice as fast), zlib everywhere else. Both give zlib's
// result codes:
//   Z_OK          progress (input taken or output given)
//   Z_STREAM_END  the final block has ended
//   Z_BUF_ERROR   no progress was possible
//   Z_DATA_ERROR  damaged data
//   Z_MEM_ERROR   the state could not be allocated (Init)
// ISA-L decodes ahead of what was asked for, and copies a match before it
// finds the match's distance bad, so on damage its bytes and its moment of
// failure differ from zlib's. It therefore never gives the verdict on an
// error: the entry reader starts the entry again through zlib
// (FallBackToZlib), skips what it has delivered, and zlib decides from
// there. Damaged streams thus end exactly as with the zlib backend.
// One difference remains: ISA-L accepts some blocks whose code sets zlib
// refuses as incomplete or over-subscribed (no compressor writes them).
// Such an entry still has to match its CRC-32 and sizes, which decide.
// ISA-L is loaded on first need (isal_library.h); a stream that is not
// worth loading it for, or any stream when it cannot be loaded, goes
// through zlib from its start.
// The caller owns the buffers and hands them to each call; new input is
// given only once the previous input has all been taken.
#pragma once
#include <cstdint>
#include <zlib.h>

// The buffers of one call, as the caller hands them over and gets them back.
struct InflateBuffers {
  const uint8_t* nextIn = nullptr;
  uint32_t availIn = 0;
  uint8_t* nextOut = nullptr;
  uint32_t availOut = 0;
};

class ZlibInflater {
 public:
  ZlibInflater() = default;
  ~ZlibInflater() { End(); }
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;
  // fast is the ISA-L backend's choice; here zlib is the only speed.
  int Init(bool fast = true);
  int Inflate(InflateBuffers& io);
  void End();
  bool CanFallBack() const { return false; }
  int FallBackToZlib(InflateBuffers& /*io*/) { return Z_OK; }
  // zlib's words on the last error, or null.
  const char* Message() const { return stream_.msg; }

 private:
  z_stream stream_{};
  bool active_ = false;
};

#ifdef UPK_WITH_ISAL
struct inflate_state;
struct IsalEntryPoints;

class IsalInflater {
 public:
  IsalInflater() = default;
  ~IsalInflater() { End(); }
  IsalInflater(const IsalInflater&) = delete;
  IsalInflater& operator=(const IsalInflater&) = delete;

  // Through ISA-L when fast (and the library can be loaded), else zlib.
  int Init(bool fast = true);
  int Inflate(InflateBuffers& io);
  void End();
  // Whether ISA-L decodes the stream, so that an error may still be ISA-L's
  // rather than zlib's verdict.
  bool CanFallBack() const { return !fallback_; }
  // Ends the ISA-L stream and starts a zlib stream from the beginning; the
  // input given so far is dropped.
  int FallBackToZlib(InflateBuffers& io);

 private:
  void FreeState();

  const IsalEntryPoints* isal_ = nullptr;
  inflate_state* state_ = nullptr;
  bool finished_ = false;
  bool fallback_ = false;
  ZlibInflater zlib_;
};
using Inflater = IsalInflater;
#else
using Inflater = ZlibInflater;
#endif

// CRC-32 (polynomial 0xEDB88320) of size bytes continued from crc, as zlib's
// crc32 gives it; carry-less multiplication with ISA-L, which a large piece
// loads.
uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t size);
// The same through zlib alone.
uint32_t ZlibCrc32(uint32_t crc, const void* data, size_t size);
