#include "upk4/entry_record.h"
#include <string_view>
#include "platform/code_page.h"
#include "platform/local_time.h"
#include "upk4/little_endian.h"
#include "upk4/path_functions.h"
#include "upk4/volume_set.h"

namespace {

// Reads a variable-length field of a central header from the current volume
// only. A field that cannot be read whole makes the header unreadable.
bool ReadField(VolumeSet& storage, ByteBlock& field, uint16_t length) {
  field.Allocate(length, false);
  if (length == 0) return true;
  return storage.currentFile->Read(field.data, length) == length;
}

}  // namespace

bool EntryRecord::ReadCentralHeader(VolumeSet& storage) {
  uint8_t h[kCentralHeaderSize];
  storage.Read(h, kCentralHeaderSize, true);
  signature = GetLe32(h);
  versionMadeBy = GetLe16(h + 4);
  versionNeeded = GetLe16(h + 6);
  flags = GetLe16(h + 8);
  method = GetLe16(h + 10);
  modificationTime = GetLe16(h + 12);
  modificationDate = GetLe16(h + 14);
  crc32 = GetLe32(h + 16);
  compressedSize = GetLe32(h + 20);
  uncompressedSize = GetLe32(h + 24);
  const uint16_t nameLength = GetLe16(h + 28);
  const uint16_t extraLength = GetLe16(h + 30);
  const uint16_t commentLength = GetLe16(h + 32);
  diskNumberStart = GetLe16(h + 34);
  internalAttributes = GetLe16(h + 36);
  externalAttributes = GetLe32(h + 38);
  localHeaderOffset = GetLe32(h + 42);
  if (signature != kCentralHeaderSignature) return false;
  return ReadField(storage, name, nameLength) && ReadField(storage, extraField, extraLength) &&
         ReadField(storage, comment, commentLength);
}

bool EntryRecord::ReadLocalHeader(VolumeSet& storage, uint16_t& localExtraLength) {
  uint8_t h[kLocalHeaderSize];
  storage.Read(h, kLocalHeaderSize, true);
  const uint16_t localFlags = GetLe16(h + 6);
  const uint16_t localMethod = GetLe16(h + 8);
  const uint16_t localNameLength = GetLe16(h + 26);
  if (GetLe32(h) != kLocalHeaderSignature) return false;
  if (localFlags != flags) return false;
  if (localMethod != method) return false;
  if (method != 0 && method != 8) return false;
  if (localNameLength != name.size) return false;
  // With a data descriptor the local values may be zeros; the descriptor
  // is checked when the entry is closed.
  if ((localFlags & 8) == 0 && !SameCrcAndSizes(GetLe32(h + 14), GetLe32(h + 18), GetLe32(h + 22)))
    return false;
  localExtraLength = GetLe16(h + 28);
  storage.currentFile->Seek(localNameLength, CFile::current);
  return true;
}

bool EntryRecord::CheckDataDescriptor(VolumeSet& storage) const {
  if (!HasDataDescriptor()) return true;
  uint8_t d[16];
  storage.Read(d, 12, false);
  if (d[0] != 0x50) {
    // Some writers leave a few bytes between the data and the descriptor.
    for (int i = 1; i <= 3; ++i) {
      if (d[i] == 0x50 && d[i + 1] == 0x4B) {
        storage.currentFile->Seek(-(12 - i), CFile::current);
        storage.Read(d, 12, false);
        break;
      }
    }
  }
  const uint8_t* fields = d;
  if (GetLe32(d) == kDataDescriptorSignature) {
    storage.Read(d + 12, 4, false);
    fields = d + 4;
  }
  return SameCrcAndSizes(GetLe32(fields), GetLe32(fields + 4), GetLe32(fields + 8));
}

bool EntryRecord::SameCrcAndSizes(uint32_t crc, uint32_t compressed, uint32_t uncompressed) const {
  return crc == crc32 && compressed == compressedSize && uncompressed == uncompressedSize;
}

plat::CalendarTime EntryRecord::GetModificationTime() const {
  return plat::DosDateTimeToLocalTime(modificationDate, modificationTime);
}

plat::WString EntryRecord::GetNameWide() const {
  if (name.size == 0) return {};
  return ToWide(std::string_view(reinterpret_cast<const char*>(name.data), name.size));
}

void EntryRecord::ConvertNameCodePage() {
  if (name.size != 0) plat::OemToAnsiInPlace(name.data, name.size);
}

void EntryRecord::ConvertSeparators() {
  for (uint32_t i = 0; i < name.size; ++i) {
    if (name.data[i] == '/') name.data[i] = '\\';
  }
}
