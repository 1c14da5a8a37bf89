// Byte-level archives for the damaged and unusual cases that no writer
// produces: every header field can be set on its own.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include "upk4/zip_format.h"

namespace upktest {

struct CraftedEntry {
  std::string name;        // as stored (OEM bytes, "/" separators)
  std::string data;        // entry data as stored (compressed, encrypted)
  uint16_t versionMadeBy = zip::kVersionDefault;
  uint16_t versionNeeded = zip::kVersionDefault;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dosTime = 0x6000;  // 12:00:00
  uint16_t dosDate = 0x5021;  // 2020-01-01
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint16_t diskNumberStart = 0;
  uint32_t externalAttributes = zip::kDosArchive;
  std::string extra;    // central extra field
  std::string comment;  // entry comment
  std::string localExtra;
  // Local header values that differ from the central ones.
  std::optional<uint16_t> localFlags, localMethod, localNameLength;
  std::optional<uint32_t> localCrc;
  std::optional<uint64_t> localCompressed, localUncompressed;
  std::optional<std::string> localName;
  // Bytes written after the data (a data descriptor, stray bytes ...).
  std::string afterData;
  // In a ZIP64 archive: the ZIP64 extra blocks written in place of the true
  // ones (central, local), to damage them.
  std::optional<std::string> zip64Extra, localZip64Extra;
};

// A stored entry with its CRC and sizes filled in.
CraftedEntry StoredEntry(const std::string& name, const std::string& data);
// A deflated entry (raw deflate) with its CRC and sizes filled in.
CraftedEntry DeflatedEntry(const std::string& name, const std::string& data);
// The 16-byte signed or 12-byte unsigned data descriptor of an entry.
std::string DataDescriptor(uint32_t crc, uint32_t compressed, uint32_t uncompressed,
                           bool withSignature);
// The ZIP64 form: sizes of 8 bytes.
std::string Zip64DataDescriptor(uint32_t crc, uint64_t compressed, uint64_t uncompressed,
                                bool withSignature);
// A ZIP64 extra block (tag 1) holding the given values, 8 bytes each.
std::string Zip64ExtraBlock(const std::vector<uint64_t>& values);

std::string RawDeflate(const std::string& data);
// Deflate blocks that do not end the stream, so that damage can follow.
std::string OpenDeflate(const std::string& data);

class CraftedZip {
 public:
  std::string prefix;  // bytes before the archive (offsets do not count them)
  std::vector<CraftedEntry> entries;
  std::string comment;
  std::string trailer;  // bytes after the end record and its comment
  // End-record values that differ from the true ones.
  std::optional<uint16_t> thisVolume, directoryVolume, entriesOnVolume, entriesTotal,
      commentLength;
  std::optional<uint32_t> directorySize, directoryOffset;

  // ZIP64: every entry's sizes and local header offset held in a ZIP64
  // extra block (the header fields all ones), and a ZIP64 end record with
  // its locator in front of an end record whose fields are all ones.
  bool zip64 = false;
  bool zip64Locator = true;
  std::optional<uint64_t> zip64RecordOffset;  // as the locator gives it
  std::optional<uint64_t> zip64EntriesTotal, zip64DirectoryOffset;
  // Zero bytes that stand between the last entry's data and the central
  // directory without being part of the built string, for archives larger
  // than memory: the storage serves them by position (WithZeroRun at
  // centralOffset). Entries whose sizes are larger than their data have the
  // rest of it there.
  uint64_t gapBeforeDirectory = 0;

  // The archive, prefix and trailer included.
  std::string Build() const;
  // Builds as Build and records the positions below.
  std::string BuildAndLayout();
  // Positions within the archive (not counting the prefix): of each local
  // header, of the central directory, of the end record.
  std::vector<uint64_t> localOffsets;
  uint64_t centralOffset = 0;  // where the gap goes in the built string, too
  uint64_t endOffset = 0;
};


// A record signature as the 4 bytes on disk.
std::string Signature(uint32_t signature);

}  // namespace upktest
