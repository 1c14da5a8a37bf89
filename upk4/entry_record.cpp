#include "upk4/entry_record.h"
#include <cstring>
#include <string_view>
#include "platform/code_page.h"
#include "platform/local_time.h"
#include "upk4/path_functions.h"
#include "upk4/volume_set.h"

namespace {

// The ZIP64 values of the fields that hold all ones, taken in the fixed
// order of the ZIP64 extra block (uncompressed size, compressed size,
// local header offset, starting volume); only saturated fields have a value
// there. False when the block is missing or too short.
bool ApplyZip64Extra(const uint8_t* extra, uint32_t extraSize, uint64_t* uncompressed,
                     uint64_t* compressed, uint64_t* offset, uint32_t* disk) {
  const bool needU = uncompressed && *uncompressed == zip::kSaturated32;
  const bool needC = compressed && *compressed == zip::kSaturated32;
  const bool needO = offset && *offset == zip::kSaturated32;
  const bool needD = disk && *disk == zip::kSaturated16;
  if (!needU && !needC && !needO && !needD) return true;
  std::optional<ByteCursor> block = zip::FindExtraBlock(extra, extraSize, zip::kExtraZip64);
  if (!block) return false;
  if (needU) *uncompressed = block->U64();
  if (needC) *compressed = block->U64();
  if (needO) *offset = block->U64();
  if (needD) *disk = block->U32();
  return block->Ok();
}

bool ApplyZip64Extra(const ByteBlock& extra, uint64_t* uncompressed, uint64_t* compressed,
                     uint64_t* offset, uint32_t* disk) {
  return ApplyZip64Extra(extra.data, extra.size, uncompressed, compressed, offset, disk);
}

// The lengths of a central header's variable fields.
struct FieldLengths {
  uint16_t name = 0;
  uint16_t extra = 0;
  uint16_t comment = 0;
};

bool IsValidUtf8(const uint8_t* p, size_t n) {
  return plat::Utf16ToUtf8(plat::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(p), n))) ==
         std::string_view(reinterpret_cast<const char*>(p), n);
}

}  // namespace

// The 46 fixed bytes of a central header into the record; the lengths of
// the fields that follow them.
static FieldLengths ParseFixedCentralHeader(EntryRecord& r, const uint8_t* h) {
  ByteCursor c(h, zip::kCentralHeaderSize);
  r.signature = c.U32();
  r.versionMadeBy = c.U16();
  r.versionNeeded = c.U16();
  r.flags = c.U16();
  r.method = c.U16();
  r.modificationTime = c.U16();
  r.modificationDate = c.U16();
  r.crc32 = c.U32();
  r.compressedSize = c.U32();
  r.uncompressedSize = c.U32();
  FieldLengths lengths;
  lengths.name = c.U16();
  lengths.extra = c.U16();
  lengths.comment = c.U16();
  r.diskNumberStart = c.U16();
  r.internalAttributes = c.U16();
  r.externalAttributes = c.U32();
  r.localHeaderOffset = c.U32();
  return lengths;
}

const char* EntryRecord::MeasureCentralHeader(const uint8_t* record, size_t available,
                                              uint32_t* length) {
  if (available < zip::kCentralHeaderSize) return "cut short";
  if (GetLe32(record) != zip::kCentralHeaderSignature) return "signature missing";
  const uint16_t nameLength = GetLe16(record + zip::kCentralNameLengthAt);
  const uint16_t extraLength = GetLe16(record + zip::kCentralNameLengthAt + 2);
  const uint16_t commentLength = GetLe16(record + zip::kCentralNameLengthAt + 4);
  size_t end = size_t{zip::kCentralHeaderSize} + nameLength;
  if (end > available) return "name runs past the end of the file";
  end += extraLength;
  if (end > available) return "extra field runs past the end of the file";
  end += commentLength;
  if (end > available) return "comment runs past the end of the file";
  uint64_t compressed = GetLe32(record + zip::kCentralCompressedSizeAt);
  uint64_t uncompressed = GetLe32(record + zip::kCentralCompressedSizeAt + 4);
  uint32_t disk = GetLe16(record + zip::kCentralDiskStartAt);
  uint64_t offset = GetLe32(record + zip::kCentralLocalOffsetAt);
  if (!ApplyZip64Extra(record + zip::kCentralHeaderSize + nameLength, extraLength, &uncompressed,
                       &compressed, &offset, &disk))
    return "ZIP64 extra field missing or too short";
  *length = static_cast<uint32_t>(end);
  return nullptr;
}

void EntryRecord::ParseCentralHeader(const uint8_t* record) {
  const FieldLengths lengths = ParseFixedCentralHeader(*this, record);
  const uint8_t* field = record + zip::kCentralHeaderSize;
  const auto take = [&field](ByteBlock& block, uint16_t length) {
    block.Allocate(length, false);
    if (length != 0) std::memcpy(block.data, field, length);
    field += length;
  };
  take(name, lengths.name);
  storedName = name;
  take(extraField, lengths.extra);
  take(comment, lengths.comment);
  ApplyZip64Extra(extraField, &uncompressedSize, &compressedSize, &localHeaderOffset,
                  &diskNumberStart);
  ConvertNameCodePage();
  ConvertSeparators();
}

const char* EntryRecord::ReadLocalHeader(VolumeSet& storage, ByteBlock& localExtra) const {
  uint8_t h[zip::kLocalHeaderSize];
  storage.Read(h, sizeof h, true);
  ByteCursor c(h, sizeof h);
  const uint32_t localSignature = c.U32();
  c.Skip(2);  // version needed: not compared
  const uint16_t localFlags = c.U16();
  const uint16_t localMethod = c.U16();
  c.Skip(4);  // time and date: not compared
  const uint32_t localCrc = c.U32();
  uint64_t localCompressed = c.U32();
  uint64_t localUncompressed = c.U32();
  const uint16_t localNameLength = c.U16();
  const uint16_t localExtraLength = c.U16();
  if (localSignature != zip::kLocalHeaderSignature) return "local header signature missing";
  if (localFlags != flags) return "local header flags differ from the central header";
  if (localMethod != method) return "local header method differs from the central header";
  if (zip::MethodName(method) == nullptr) return "method is not one this reader decodes";
  if (localNameLength != storedName.size) return "local header name length differs from the central header";

  // The local name must be the central one, byte for byte as this record
  // reads it: a reader that goes by local headers would otherwise see
  // another file than the one extracted.
  if (localNameLength != 0) {
    ByteBlock localName(localNameLength, false);
    storage.Read(localName.data, localNameLength, true);
    if (std::memcmp(localName.data, storedName.data, localNameLength) != 0)
      return "local header name differs from the central header";
  }
  // The extra field must lie on this volume.
  localExtra.Release();
  if (localExtraLength != 0) {
    const int32_t volume = storage.GetCurrentVolume();
    localExtra.Allocate(localExtraLength, false);
    storage.Read(localExtra.data, localExtraLength, true);
    if (storage.GetCurrentVolume() != volume) return "local extra field runs into the next volume";
  }
  // With a data descriptor the local values may be zeros; the descriptor
  // is checked when the entry is closed.
  if ((localFlags & zip::kFlagDataDescriptor) == 0) {
    if (!ApplyZip64Extra(localExtra, &localUncompressed, &localCompressed, nullptr, nullptr))
      return "local ZIP64 extra field missing or too short";
    if (!SameCrcAndSizes(localCrc, localCompressed, localUncompressed))
      return "local header CRC-32 or sizes differ from the central header";
  }
  return nullptr;
}

const char* EntryRecord::CheckDataDescriptor(VolumeSet& storage, bool zip64Sizes) const {
  if (!HasDataDescriptor()) return nullptr;
  const uint32_t size = zip64Sizes ? zip::kZip64DataDescriptorSize : zip::kDataDescriptorSize;
  uint8_t d[zip::kSignatureSize + zip::kZip64DataDescriptorSize];
  storage.Read(d, size, false);
  if (d[0] != zip::kSignatureByte0) {
    // Some writers leave a few bytes between the data and the descriptor.
    for (uint32_t i = 1; i <= 3; ++i) {
      if (d[i] == zip::kSignatureByte0 && d[i + 1] == zip::kSignatureByte1) {
        storage.File().Seek(-static_cast<int64_t>(size - i), VolumeFile::current);
        storage.Read(d, size, false);
        break;
      }
    }
  }
  ByteCursor fields(d, sizeof d);
  if (GetLe32(d) == zip::kDataDescriptorSignature) {
    storage.Read(d + size, zip::kSignatureSize, false);
    fields.Skip(zip::kSignatureSize);
  }
  const uint32_t crc = fields.U32();
  const uint64_t compressed = zip64Sizes ? fields.U64() : fields.U32();
  const uint64_t uncompressed = zip64Sizes ? fields.U64() : fields.U32();
  if (!SameCrcAndSizes(crc, compressed, uncompressed))
    return "data descriptor differs from the central header";
  return nullptr;
}

bool EntryRecord::SameCrcAndSizes(uint32_t crc, uint64_t compressed, uint64_t uncompressed) const {
  return crc == crc32 && compressed == compressedSize && uncompressed == uncompressedSize;
}

plat::CalendarTime EntryRecord::GetModificationTime() const {
  return plat::DosDateTimeToLocalTime(modificationDate, modificationTime);
}

plat::WString EntryRecord::GetNameWide() const {
  if (name.size == 0) return {};
  const std::string_view bytes(reinterpret_cast<const char*>(name.data), name.size);
  if (utf8Name) return plat::Utf8ToUtf16(bytes);
  return ToWide(bytes);
}

bool EntryRecord::NameEquals(plat::WStringView other, bool caseSensitive) const {
  if (utf8Name) {
    const plat::WString wide = GetNameWide();
    return (caseSensitive ? plat::CollateWide(wide, other) : plat::CollateWideNoCase(wide, other)) == 0;
  }
  // A code-page name has one UTF-16 unit per byte.
  if (name.size != other.size()) return false;
  for (uint32_t i = 0; i < name.size; ++i) {
    const char16_t c = plat::AnsiByteToWide(name.data[i]);
    if (caseSensitive ? c != other[i] : plat::FoldCaseWide(c) != plat::FoldCaseWide(other[i]))
      return false;
  }
  return true;
}

void EntryRecord::ConvertNameCodePage() {
  // A flagged name that is not UTF-8 after all is read as the code page,
  // like every unflagged name, so that its bytes still give a usable name.
  utf8Name = (flags & zip::kFlagUtf8Name) != 0 && IsValidUtf8(name.data, name.size);
  if (name.size != 0 && !utf8Name) plat::OemToAnsiInPlace(name.data, name.size);
}

void EntryRecord::ConvertSeparators() {
  for (uint32_t i = 0; i < name.size; ++i) {
    if (name.data[i] == '/') name.data[i] = '\\';
  }
}
