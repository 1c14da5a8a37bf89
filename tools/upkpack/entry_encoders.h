// The compressors of upkpack's methods behind one face: raw deflate
// (zlib), Zstandard (libzstd) and LZMA in PKWARE's form (liblzma), each on
// the calling thread only, so that its output depends on nothing but the
// input and the level. Zstandard windows and LZMA dictionaries stay within
// the 8 MiB that the reader allows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "spill_buffer.h"

namespace upkpack {

enum class PackMethod { deflate, zstd, lzma };

class EntryEncoder {
 public:
  virtual ~EntryEncoder() = default;
  // Compresses count bytes into out; last marks the entry's end, after
  // which the stream is complete. Throws PackError.
  virtual void Feed(const uint8_t* data, size_t count, bool last, SpillBuffer& out) = 0;
};

// size: the entry's size, which sizes the window and the dictionary.
std::unique_ptr<EntryEncoder> MakeEntryEncoder(PackMethod method, std::optional<int> level,
                                               uint64_t size);
// The ZIP method number of method's entries.
uint16_t ZipMethodOf(PackMethod method);
// General-purpose flag bits that method's entries carry (LZMA: the end
// marker, which the LZMA encoder always writes).
uint16_t FlagsOf(PackMethod method);
// Deflate's level as zlib takes it (Z_DEFAULT_COMPRESSION when unset).
int DeflateLevel(std::optional<int> level);

}  // namespace upkpack
