// Entries compressed on several threads, one entry per thread at a time,
// and handed to the writer in the archive's order. Each entry is
// compressed by its own encoder on one thread, so the archive is the same
// whatever the number of threads.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "entry_encoders.h"
#include "spill_buffer.h"
#include "zip_writer.h"

namespace upkpack {

struct CompressionSettings {
  bool store = false;  // every entry stored
  PackMethod method = PackMethod::deflate;
  std::optional<int> level;
  unsigned threads = 1;  // at least 1
  // Where compressed data past memoryPerEntry waits.
  std::filesystem::path spillDirectory;
  size_t memoryPerEntry = 32u << 20;
};

struct CompressedEntry {
  bool stored = true;     // stored: data is empty and the file is read again
  uint32_t crc = 0;       // CRC-32 of the file's bytes
  SpillBuffer data;       // the compressed stream (when not stored)
};

// Compresses the file entries (directories give an empty stored result)
// and calls consume with each entry's index and result, in order, on the
// calling thread. A file that does not shrink is stored. An exception from
// a compressor or from consume ends the work and is thrown from here once
// every thread has been joined.
void CompressEntries(const std::vector<ZipSource>& entries, const CompressionSettings& settings,
                     const std::function<void(size_t index, CompressedEntry& entry)>& consume);

}  // namespace upkpack
