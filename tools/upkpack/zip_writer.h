// Writes the package archive as one ZIP file with minizip: stored,
// deflated, Zstandard or LZMA entries (compressed here on several threads,
// see entry_compression.h, and handed to minizip raw), optionally with
// traditional PKWARE encryption (applied here, see pkware_encryption.h), no
// data descriptors. ZIP64 records where a size or offset needs them (or
// everywhere when asked).
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace upkpack {

struct ZipSource {
  std::filesystem::path source;  // for a directory: where its time comes from (may be empty)
  std::string name;              // archive name bytes (entry_names.h)
  bool utf8Name = false;         // the name is UTF-8 (flag bit 11)
  bool directory = false;
  uint64_t size = 0;             // expected size; a file that changes is an error
};

struct ZipWriteOptions {
  bool store = false;
  std::string method = "deflate";  // deflate, zstd or lzma
  std::optional<int> level;        // the method's default when unset
  unsigned threads = 0;            // 0: one per processor
  // Compressed data of an entry waiting for its turn is held in memory up
  // to this, in a file beside the output past it.
  size_t memoryPerEntry = 32u << 20;
  std::string password;  // empty: no encryption; directories are never encrypted
  bool zip64 = false;    // ZIP64 fields for every file entry, not only where needed
  // Set: every entry carries this time (seconds since 1970, taken in UTC)
  // and encryption headers come from the password and the entry, so that
  // the same inputs give the same bytes. Unset: the files' own times, local.
  std::optional<int64_t> fixedTime;
  // Called with the payload bytes done so far and the total.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

// Throws PackError on any failure; the caller removes the half-written file.
void WriteZip(const std::filesystem::path& output, const std::vector<ZipSource>& entries,
              const ZipWriteOptions& options);

}  // namespace upkpack
