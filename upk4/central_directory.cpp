#include "upk4/central_directory.h"
#include <algorithm>
#include <array>
#include <string>
#include "platform/code_page.h"
#include "upk4/volume_set.h"
#include "upk4/zip_exception.h"

namespace {

std::string Numbered(const char* what, size_t number, const char* problem) {
  return std::string(what) + " " + std::to_string(number) + ": " + problem;
}

// The archive's code page mapped to UTF-16, with "/" as "\\", as a record
// has its name.
const char16_t* OemNameTable() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
      uint8_t c = static_cast<uint8_t>(b);
      plat::OemToAnsiInPlace(&c, 1);
      t[b] = c == '/' ? u'\\' : plat::AnsiByteToWide(c);
    }
    return t;
  }();
  return table.data();
}

}  // namespace

CentralDirectory::~CentralDirectory() { Drop(); }

void CentralDirectory::Drop() {
  for (size_t i = 0; m_records && i < m_count; ++i) delete m_records[i].load();
  m_records.reset();
  m_rawOffsets.reset();
  m_raw.Release();
  m_count = 0;
}

uint64_t CentralDirectory::LocateEndRecord(VolumeSet& volumes, uint32_t searchBufferSize) {
  VolumeFile& file = volumes.File();
  const uint64_t length = file.GetLength();
  const uint32_t reach = static_cast<uint32_t>(std::min<uint64_t>(length, zip::kEndRecordReach));
  // Chunks overlap by three bytes, so a chunk must be longer than that.
  const uint32_t chunk = std::max<uint32_t>(searchBufferSize, 4);
  ByteBlock buffer(chunk, false);
  if (reach == 0) RaiseError(volumes, kZipNoEndRecord, "end record: the file is empty");
  uint32_t covered = 0;
  uint32_t upTo = 0;
  do {
    upTo = std::min(covered + chunk, reach);
    file.Seek(-static_cast<int64_t>(upTo), VolumeFile::end);
    const uint32_t count = upTo - covered;
    if (file.Read(buffer.data, count) != count)
      RaiseError(volumes, kZipBadArchive, "end record: the file ends while it is searched");
    for (int64_t i = static_cast<int64_t>(count) - 4; i >= 0; --i) {
      if (GetLe32(buffer.data + i) == zip::kEndRecordSignature)
        return length - upTo + static_cast<uint64_t>(i);
    }
    covered = upTo - 3;
  } while (upTo < reach);
  RaiseError(volumes, kZipNoEndRecord, "end record: no signature in the last 65557 bytes");
}

void CentralDirectory::Read(VolumeSet& volumes, uint32_t searchBufferSize, bool readWhole) {
  Drop();
  m_endRecordOffset = LocateEndRecord(volumes, searchBufferSize);
  VolumeFile& file = volumes.File();
  file.Seek(static_cast<int64_t>(m_endRecordOffset), VolumeFile::begin);
  uint8_t e[zip::kEndRecordSize];
  if (file.Read(e, sizeof e) != sizeof e) RaiseError(volumes, kZipBadArchive, "end record: cut short");
  ByteCursor c(e, sizeof e);
  m_end = EndRecord{};
  m_end.signature = c.U32();
  m_end.thisVolume = c.U16();
  m_end.directoryVolume = c.U16();
  m_end.entriesOnVolume = c.U16();
  m_end.entriesTotal = c.U16();
  m_end.directorySize = c.U32();
  m_end.directoryOffset = c.U32();
  const uint16_t commentLength = c.U16();
  m_comment.Release();
  if (commentLength != 0) {
    m_comment.Allocate(commentLength, false);
    if (file.Read(m_comment.data, commentLength) != commentLength)
      RaiseError(volumes, kZipBadArchive, "end record: comment runs past the end of the file");
  }
  const uint64_t directoryEndsBefore = ReadZip64EndRecord(volumes);

  if (m_end.thisVolume > zip::kMaxVolume || m_end.directoryVolume > zip::kMaxVolume)
    RaiseError(volumes, kZipBadArchive, "end record: volume number beyond 65535");
  volumes.SettleVolumeLayout(static_cast<uint16_t>(m_end.thisVolume));
  const bool single = volumes.IsMultiVolume() == 0;
  // Offset and size together may pass 64 bits only in a damaged record.
  const uint64_t directoryEnd = m_end.directoryOffset + m_end.directorySize;
  if (directoryEnd < m_end.directoryOffset || (single && directoryEndsBefore < directoryEnd))
    RaiseError(volumes, kZipBadArchive, "end record: directory runs past the end record");
  m_bytesBeforeArchive = single ? directoryEndsBefore - directoryEnd : 0;
  if ((m_end.directorySize == 0) != (m_end.entriesTotal == 0))
    RaiseError(volumes, kZipBadArchive, "end record: directory size and entry count disagree");
  volumes.ChangeVolume(static_cast<int32_t>(m_end.directoryVolume));
  if (m_end.directorySize != 0) LoadEntryRecords(volumes, readWhole);
}

uint64_t CentralDirectory::ReadZip64EndRecord(VolumeSet& volumes) {
  VolumeFile& file = volumes.File();
  if (m_endRecordOffset < zip::kZip64LocatorSize) return m_endRecordOffset;
  const uint64_t locatorOffset = m_endRecordOffset - zip::kZip64LocatorSize;
  uint8_t l[zip::kZip64LocatorSize];
  file.Seek(static_cast<int64_t>(locatorOffset), VolumeFile::begin);
  if (file.Read(l, sizeof l) != sizeof l) return m_endRecordOffset;
  ByteCursor locator(l, sizeof l);
  if (locator.U32() != zip::kZip64LocatorSignature) return m_endRecordOffset;
  locator.Skip(4);  // volume of the ZIP64 end record: the one in use
  const uint64_t storedOffset = locator.U64();

  // The record lies where the locator says, or, in a file with bytes in
  // front of the archive, directly before the locator (when it carries no
  // extensible data).
  uint8_t r[zip::kZip64EndRecordSize];
  auto recordAt = [&](uint64_t position) {
    if (position > locatorOffset || locatorOffset - position < sizeof r) return false;
    file.Seek(static_cast<int64_t>(position), VolumeFile::begin);
    if (file.Read(r, sizeof r) != sizeof r || GetLe32(r) != zip::kZip64EndRecordSignature)
      return false;
    return GetLe64(r + 4) + zip::kZip64EndRecordLead == locatorOffset - position;
  };
  uint64_t position = storedOffset;
  if (!recordAt(position)) {
    position = locatorOffset - sizeof r;
    if (locatorOffset < sizeof r || !recordAt(position)) {
      // Without saturated fields the plain record stands on its own.
      const bool saturated =
          m_end.thisVolume == zip::kSaturated16 || m_end.directoryVolume == zip::kSaturated16 ||
          m_end.entriesOnVolume == zip::kSaturated16 || m_end.entriesTotal == zip::kSaturated16 ||
          m_end.directorySize == zip::kSaturated32 || m_end.directoryOffset == zip::kSaturated32;
      if (saturated)
        RaiseError(volumes, kZipBadArchive, "ZIP64 end record: not where its locator points");
      return m_endRecordOffset;
    }
  }
  ByteCursor record(r, sizeof r);
  record.Skip(zip::kZip64EndRecordLead + 4);  // signature, size, versions
  m_end.thisVolume = record.U32();
  m_end.directoryVolume = record.U32();
  m_end.entriesOnVolume = record.U64();
  m_end.entriesTotal = record.U64();
  m_end.directorySize = record.U64();
  m_end.directoryOffset = record.U64();
  m_end.zip64 = true;
  return position;
}

void CentralDirectory::LoadEntryRecords(VolumeSet& volumes, bool readWhole) {
  const auto start = static_cast<int64_t>(m_bytesBeforeArchive + m_end.directoryOffset);
  volumes.File().Seek(start, VolumeFile::begin);
  // Entries are numbered in 16 bits: a larger archive reads its first 65535.
  const size_t count = static_cast<size_t>(std::min<uint64_t>(m_end.entriesTotal, zip::kMaxEntries));
  m_records = std::make_unique<std::atomic<EntryRecord*>[]>(count);
  for (size_t i = 0; i < count; ++i) m_records[i].store(nullptr, std::memory_order_relaxed);
  m_count = count;
  if (readWhole && TakeDirectoryBytes(volumes, count)) return;
  volumes.File().Seek(start, VolumeFile::begin);
  ByteBlock record(zip::kCentralHeaderSize + 3u * 0xFFFF, false);
  for (size_t i = 0; i < count; ++i) {
    // The fixed part whole, from the volumes; the variable fields from the
    // volume in use only: a field that cannot be read whole makes the
    // record unsound.
    volumes.Read(record.data, zip::kCentralHeaderSize, true);
    const uint32_t rest = GetLe32(record.data) != zip::kCentralHeaderSignature
                              ? 0
                              : uint32_t{GetLe16(record.data + zip::kCentralNameLengthAt)} +
                                    GetLe16(record.data + zip::kCentralNameLengthAt + 2) +
                                    GetLe16(record.data + zip::kCentralNameLengthAt + 4);
    uint32_t got = 0;
    while (got < rest) {
      const uint32_t n = volumes.File().Read(record.data + zip::kCentralHeaderSize + got, rest - got);
      if (n == 0) break;
      got += n;
    }
    uint32_t length = 0;
    if (const char* problem = EntryRecord::MeasureCentralHeader(
            record.data, zip::kCentralHeaderSize + got, &length))
      RaiseError(volumes, kZipBadArchive, Numbered("central header", i, problem));
    auto parsed = std::make_unique<EntryRecord>();
    parsed->ParseCentralHeader(record.data);
    m_records[i].store(parsed.release(), std::memory_order_relaxed);
  }
}

bool CentralDirectory::TakeDirectoryBytes(VolumeSet& volumes, size_t count) {
  // A single file's directory, read whole and measured record by record.
  // Whatever does not fit (a record that runs past the stated size, one
  // that is unsound, a directory over another volume) is read the record
  // by record way, which reports it as it always has.
  if (volumes.IsMultiVolume() != 0 || m_end.directorySize > kMaxDirectoryBytes) return false;
  const auto size = static_cast<uint32_t>(m_end.directorySize);
  m_raw.Allocate(size, false);
  auto offsets = std::make_unique<uint32_t[]>(count);
  uint32_t at = 0;
  bool whole = size == 0 || volumes.File().Read(m_raw.data, size) == size;
  for (size_t i = 0; whole && i < count; ++i) {
    uint32_t length = 0;
    whole = EntryRecord::MeasureCentralHeader(m_raw.data + at, size - at, &length) == nullptr;
    offsets[i] = at;
    at += length;
  }
  if (!whole) {
    m_raw.Release();
    return false;
  }
  m_rawOffsets = std::move(offsets);
  return true;
}

const EntryRecord& CentralDirectory::Record(size_t index) const {
  std::atomic<EntryRecord*>& slot = m_records[index];
  EntryRecord* record = slot.load(std::memory_order_acquire);
  if (record != nullptr) return *record;
  auto made = std::make_unique<EntryRecord>();
  made->ParseCentralHeader(m_raw.data + m_rawOffsets[index]);
  // Another thread may have made it meanwhile: the first one stays.
  if (slot.compare_exchange_strong(record, made.get(), std::memory_order_acq_rel))
    return *made.release();
  return *record;
}

bool CentralDirectory::NameEquals(size_t index, plat::WStringView name, bool caseSensitive) const {
  if (const EntryRecord* record = m_records[index].load(std::memory_order_acquire))
    return record->NameEquals(name, caseSensitive);
  // Straight from the directory's bytes. A name flagged as UTF-8 takes the
  // record's way.
  const uint8_t* record = m_raw.data + m_rawOffsets[index];
  if ((GetLe16(record + zip::kCentralFlagsAt) & zip::kFlagUtf8Name) != 0)
    return Record(index).NameEquals(name, caseSensitive);
  const uint16_t length = GetLe16(record + zip::kCentralNameLengthAt);
  if (length != name.size()) return false;
  const char16_t* table = OemNameTable();
  const uint8_t* bytes = record + zip::kCentralHeaderSize;
  for (uint16_t i = 0; i < length; ++i) {
    const char16_t c = table[bytes[i]];
    if (caseSensitive ? c != name[i] : plat::FoldCaseWide(c) != plat::FoldCaseWide(name[i]))
      return false;
  }
  return true;
}

[[noreturn]] void CentralDirectory::RaiseError(const VolumeSet& volumes, int32_t code,
                                               std::string detail) const {
  RaiseZipError(code, volumes.CurrentPath(), std::move(detail));
}
