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
// failure differ from zlib's. It therefore never gives the verdict: on any
// error the reader starts the entry again through zlib (FallBackToZlib),
// skips what it has delivered, and zlib decides from there. Damaged streams
// thus end exactly as with the zlib backend.
// ISA-L also decodes blocks whose headers zlib refuses (codes that leave
// some bit patterns unused). A DeflateWalker therefore goes over each piece
// of input before any of ISA-L's output from it is handed back, and a header
// that zlib would refuse is reported as damage, which zlib then decides.
// Large pieces are walked by a second thread while ISA-L decodes them.
// ISA-L is loaded on first need (isal_library.h); a stream that is not
// worth loading it for, or any stream when it cannot be loaded, goes
// through zlib from its start.
// New input is given only once the previous input has all been taken.
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
  // fast is the ISA-L backend's choice; here zlib is the only speed.
  int Init(AllocationRegister* blocks, bool fast = true);
  int Inflate();
  void End();
  // The register has already given the memory back: only the handle goes.
  void Forget();
  bool CanFallBack() const { return false; }
  int FallBackToZlib() { return Z_OK; }
  // Whether decoding keeps a second processor busy (the ISA-L walk).
  bool BusiesSecondProcessor() const { return false; }

 private:
  z_stream stream_{};
  bool active_ = false;
};

#ifdef UPK_WITH_ISAL
#include <memory>
#include "upk4/deflate_walker.h"
struct inflate_state;
struct IsalEntryPoints;
class BackgroundWalk;

class IsalInflater : public InflateBuffers {
 public:
  IsalInflater();
  ~IsalInflater();
  IsalInflater(const IsalInflater&) = delete;
  IsalInflater& operator=(const IsalInflater&) = delete;
  // Pieces of input from this size on are walked by the second thread
  // (none on a machine with one processor; tests set it lower to send
  // every piece there).
  uint32_t backgroundWalkFrom = 64 * 1024;

  // Through ISA-L when fast (and the library can be loaded), else zlib.
  int Init(AllocationRegister* blocks, bool fast = true);
  int Inflate();
  void End();
  void Forget();
  // Whether ISA-L decodes the stream, so that an error may still be ISA-L's
  // rather than zlib's verdict.
  bool CanFallBack() const { return !fallback_; }
  // Ends the ISA-L stream and starts a zlib stream from the beginning.
  int FallBackToZlib();
  // Whether decoding keeps a second processor busy: the walk of large
  // pieces runs beside ISA-L.
  bool BusiesSecondProcessor() const { return !fallback_; }

 private:
  // Lets the second thread go from the current input.
  void StopWalking();

  const IsalEntryPoints* isal_ = nullptr;
  inflate_state* state_ = nullptr;
  AllocationRegister* blocks_ = nullptr;
  bool finished_ = false;
  bool fallback_ = false;
  bool inputTaken_ = true;  // the next input given is new to the walker
  bool walking_ = false;    // the second thread is on the current input
  uint64_t inputBytes_ = 0;  // of the stream, given so far
  ZlibInflater zlib_;
  DeflateWalker walker_;
  std::unique_ptr<BackgroundWalk> background_;  // started with the first large piece
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
