// The in-memory record of one archive entry, read from its central header,
// checked against its local header and data descriptor.
//
// Names. The 8-bit name holds the archive's bytes with "\" for "/": for an
// entry without the UTF-8 flag those bytes are converted from the OEM to the
// ANSI code page in place (same length); for an entry with the flag (bit 11)
// they stay UTF-8, so the local header's name length still matches and no
// character is lost to the code page. GetNameWide decodes by the flag, and
// everything that looks names up or creates files (the name index,
// extraction) works on that wide name.
#pragma once
#include <cstdint>
#include "platform/win_types.h"
#include "upk4/byte_block.h"
#include "upk4/zip_format.h"

class VolumeSet;

class EntryRecord {
 public:
  EntryRecord() = default;
  ~EntryRecord() = default;
  EntryRecord(const EntryRecord&) = default;
  EntryRecord& operator=(const EntryRecord&) = default;

  // Each reader returns null when the record is sound, else a few words on
  // what is wrong with it; the caller raises the bad-archive error with them.
  //
  // Central headers are checked in one place: MeasureCentralHeader gives
  // the length of the record at record (of at most available bytes) when
  // it is sound (its variable fields within reach, the ZIP64 values of
  // saturated fields present); ParseCentralHeader takes a record so
  // measured, and converts its name (code page, separators).
  static const char* MeasureCentralHeader(const uint8_t* record, size_t available,
                                          uint32_t* length);
  void ParseCentralHeader(const uint8_t* record);
  // With the storage at the local header: the 30 fixed bytes, the name
  // (which must be this record's) and the local extra field into localExtra
  // (whole, one volume), compared with this record. Leaves the storage at the entry's data.
  const char* ReadLocalHeader(VolumeSet& storage, ByteBlock& localExtra) const;
  // With the storage just after the entry's data. zip64Sizes: the local
  // header carried ZIP64 sizes, so the descriptor's sizes are 8 bytes wide.
  const char* CheckDataDescriptor(VolumeSet& storage, bool zip64Sizes) const;
  bool SameCrcAndSizes(uint32_t crc, uint64_t compressed, uint64_t uncompressed) const;

  bool IsEncrypted() const { return (flags & zip::kFlagEncrypted) != 0; }
  bool HasDataDescriptor() const { return (flags & zip::kFlagDataDescriptor) != 0; }
  bool IsDirectory() const { return (externalAttributes & zip::kDosDirectory) != 0; }
  plat::CalendarTime GetModificationTime() const;
  plat::WString GetNameWide() const;
  // Whether GetNameWide() equals other (folded as lookups without regard to
  // case fold, unless caseSensitive), without building the wide name.
  bool NameEquals(plat::WStringView other, bool caseSensitive) const;
  // OEM to ANSI in place, unless the name is flagged as UTF-8 and is so.
  void ConvertNameCodePage();
  void ConvertSeparators();

  uint32_t signature = 0;
  uint16_t versionMadeBy = 0;
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = zip::kMethodDeflated;
  uint16_t modificationTime = 0;
  uint16_t modificationDate = 0;
  uint32_t crc32 = 0;
  // Sizes and offsets are 64-bit: the ZIP64 extra field carries values that
  // do not fit the headers' 32-bit fields.
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint32_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = zip::kDosArchive;
  uint64_t localHeaderOffset = 0;
  ByteBlock extraField;
  ByteBlock name;
  // The name's bytes as the central header has them, which the local
  // header must repeat.
  ByteBlock storedName;
  ByteBlock comment;
  // The name's bytes are UTF-8: flag bit 11 was set and they decode as such.
  bool utf8Name = false;
};
