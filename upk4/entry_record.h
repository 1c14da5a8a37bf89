// The in-memory record of one archive entry, read from its central header,
// checked against its local header and data descriptor.
#pragma once
#include <cstdint>
#include "platform/win_types.h"
#include "upk4/byte_block.h"

class VolumeSet;

inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;  // "PK\1\2"
inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;    // "PK\3\4"
inline constexpr uint32_t kDataDescriptorSignature = 0x08074B50; // "PK\7\8"
inline constexpr uint32_t kEndRecordSignature = 0x06054B50;      // "PK\5\6"
inline constexpr uint32_t kCentralHeaderSize = 46;
inline constexpr uint32_t kLocalHeaderSize = 30;

class EntryRecord {
 public:
  EntryRecord() = default;
  virtual ~EntryRecord() = default;
  EntryRecord(const EntryRecord&) = default;
  EntryRecord& operator=(const EntryRecord&) = default;

  // Reads the 46 fixed bytes (whole) and the variable part; false when the
  // signature is wrong or the variable part cannot be read whole.
  bool ReadCentralHeader(VolumeSet& storage);
  bool ReadLocalHeader(VolumeSet& storage, uint16_t& localExtraLength);
  bool CheckDataDescriptor(VolumeSet& storage) const;
  bool SameCrcAndSizes(uint32_t crc, uint32_t compressed, uint32_t uncompressed) const;

  bool IsEncrypted() const { return (flags & 1) != 0; }
  bool HasDataDescriptor() const { return (flags & 8) != 0; }
  bool IsDirectory() const { return (externalAttributes & 0x10) != 0; }
  plat::CalendarTime GetModificationTime() const;
  plat::WString GetNameWide() const;
  void ConvertNameCodePage();
  void ConvertSeparators();

  uint32_t signature = 0;
  uint16_t versionMadeBy = 0;
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 8;
  uint16_t modificationTime = 0;
  uint16_t modificationDate = 0;
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0x20;
  uint32_t localHeaderOffset = 0;
  ByteBlock extraField;
  ByteBlock name;
  ByteBlock comment;
};
