// The ZIP format as this system reads and writes it: record signatures,
// fixed record lengths, flag bits, methods, extra-field tags and MS-DOS
// attribute bits. Every format number lives here; the records themselves
// are parsed with ByteCursor.
#pragma once
#include <cstdint>
#include <optional>
#include "framework/byte_cursor.h"

namespace zip {

// Record signatures, as little-endian 32-bit words ("PK" and two digits).
inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;     // PK 3 4
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;   // PK 1 2
inline constexpr uint32_t kDataDescriptorSignature = 0x08074B50;  // PK 7 8
inline constexpr uint32_t kEndRecordSignature = 0x06054B50;       // PK 5 6
inline constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;  // PK 6 6
inline constexpr uint32_t kZip64LocatorSignature = 0x07064B50;    // PK 6 7
// The two bytes every signature starts with, "P" "K".
inline constexpr uint8_t kSignatureByte0 = 0x50;
inline constexpr uint8_t kSignatureByte1 = 0x4B;

// Fixed lengths of the records. The variable tail that follows each:
inline constexpr uint32_t kLocalHeaderSize = 30;    // + name + extra field
inline constexpr uint32_t kCentralHeaderSize = 46;  // + name + extra field + comment
inline constexpr uint32_t kEndRecordSize = 22;      // + comment
// + extensible data; the record's own size field counts everything after
// its first 12 bytes (signature and that field).
inline constexpr uint32_t kZip64EndRecordSize = 56;
inline constexpr uint32_t kZip64EndRecordLead = 12;
inline constexpr uint32_t kZip64LocatorSize = 20;  // no tail; directly before the end record
// Data descriptor: CRC-32 and both sizes, 4 bytes each (8 each after a
// ZIP64 local header), optionally preceded by its signature.
inline constexpr uint32_t kDataDescriptorSize = 12;
inline constexpr uint32_t kZip64DataDescriptorSize = 20;
inline constexpr uint32_t kSignatureSize = 4;
// The traditional encryption header in front of an encrypted entry's data.
inline constexpr uint32_t kEncryptionHeaderSize = 12;
inline constexpr uint32_t kMaxCommentLength = 0xFFFF;
// How far back from the end of a file the end record can begin.
inline constexpr uint32_t kEndRecordReach = kMaxCommentLength + kEndRecordSize;  // 65557

// Positions of the fields that are read or patched in place, without
// parsing the whole record (moving entries between volumes, damaging one
// field on purpose).
inline constexpr uint32_t kLocalNameLengthAt = 26;    // then the extra field's length
inline constexpr uint32_t kCentralFlagsAt = 8;
inline constexpr uint32_t kCentralCompressedSizeAt = 20;  // then the uncompressed size
inline constexpr uint32_t kCentralNameLengthAt = 28;  // then extra field's and comment's
inline constexpr uint32_t kCentralDiskStartAt = 34;
inline constexpr uint32_t kCentralLocalOffsetAt = 42;
inline constexpr uint32_t kEndDirectorySizeAt = 12;   // then the directory's offset
inline constexpr uint32_t kEndCommentLengthAt = 20;

// General-purpose flag bits.
inline constexpr uint16_t kFlagEncrypted = 1u << 0;
// For LZMA entries: the stream ends with its end marker (without it, the
// entry's uncompressed size ends the stream).
inline constexpr uint16_t kFlagLzmaEndMarker = 1u << 1;
inline constexpr uint16_t kFlagDataDescriptor = 1u << 3;
inline constexpr uint16_t kFlagUtf8Name = 1u << 11;

// Compression methods.
inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;
inline constexpr uint16_t kMethodLzma = 14;
inline constexpr uint16_t kMethodZstd = 93;
// "Version needed to extract" for entries with ZIP64 fields, for plain
// entries (deflate, traditional encryption), and for LZMA and Zstandard
// entries.
inline constexpr uint16_t kVersionZip64 = 45;
inline constexpr uint16_t kVersionDefault = 20;
inline constexpr uint16_t kVersionLzmaZstd = 63;

// An LZMA entry's data starts with a header: the writer's LZMA version (2
// bytes), the length of the properties (2 bytes, always 5) and the
// properties (lc/lp/pb byte and a 4-byte dictionary size); the raw LZMA
// stream follows.
inline constexpr uint32_t kLzmaPropertiesSize = 5;
inline constexpr uint32_t kLzmaHeaderSize = 4 + kLzmaPropertiesSize;

// The largest Zstandard window and LZMA dictionary this system reads or
// writes: decoding memory stays near this bound per entry being read.
inline constexpr uint32_t kMaxWindowLog = 23;
inline constexpr uint32_t kMaxWindowSize = 1u << kMaxWindowLog;  // 8 MiB

// The method's name as listings show it; null for a method without one.
inline const char* MethodName(uint16_t method) {
  switch (method) {
    case kMethodStored: return "stored";
    case kMethodDeflated: return "deflate";
    case kMethodLzma: return "lzma";
    case kMethodZstd: return "zstd";
    default: return nullptr;
  }
}

// A field whose true value is in the ZIP64 records holds all ones.
inline constexpr uint16_t kSaturated16 = 0xFFFF;
inline constexpr uint32_t kSaturated32 = 0xFFFFFFFF;
// The largest entry index and volume number of the 16-bit fields.
inline constexpr uint32_t kMaxEntries = 0xFFFF;
inline constexpr uint32_t kMaxVolume = 0xFFFF;

// Extra fields: blocks of a 2-byte tag, a 2-byte length and the data.
inline constexpr uint32_t kExtraBlockHeaderSize = 4;
inline constexpr uint16_t kExtraZip64 = 0x0001;

// MS-DOS attribute bits of the external attributes.
inline constexpr uint32_t kDosReadOnly = 0x01;
inline constexpr uint32_t kDosHidden = 0x02;
inline constexpr uint32_t kDosSystem = 0x04;
inline constexpr uint32_t kDosDirectory = 0x10;
inline constexpr uint32_t kDosArchive = 0x20;

// Traditional PKWARE encryption: the keys before the password, and the
// multiplier of the second key's update.
inline constexpr uint32_t kInitialKeys[3] = {0x12345678, 0x23456789, 0x34567890};
inline constexpr uint32_t kKeyMultiplier = 0x08088405;

// The data of the first extra block with the tag, if the extra field holds
// one whole; nullopt otherwise.
inline std::optional<ByteCursor> FindExtraBlock(const uint8_t* extra, size_t size, uint16_t tag) {
  ByteCursor blocks(extra, size);
  while (blocks.Remaining() >= kExtraBlockHeaderSize) {
    const uint16_t blockTag = blocks.U16();
    const uint16_t length = blocks.U16();
    ByteCursor data = blocks.Sub(length);
    if (!blocks.Ok()) return std::nullopt;
    if (blockTag == tag) return data;
  }
  return std::nullopt;
}

}  // namespace zip
