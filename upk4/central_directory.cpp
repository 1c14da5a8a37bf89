#include "upk4/central_directory.h"
#include <algorithm>
#include <array>
#include <limits>
#include <string>
#include "platform/code_page.h"
#include "upk4/volume_set.h"
#include "upk4/zip_exception.h"

CentralDirectory::~CentralDirectory() { Clear(true); }

void CentralDirectory::Reset() {
  readFromFile = false;
  endRecordOffset = 0;
  bytesBeforeArchive = 0;
  currentEntry = nullptr;
  comment.Release();
}

namespace {

std::string Numbered(const char* what, size_t number, const char* problem) {
  return std::string(what) + " " + std::to_string(number) + ": " + problem;
}

}  // namespace

uint64_t CentralDirectory::LocateEndRecord() {
  VolumeFile& file = *storage->currentFile;
  const uint64_t length = file.GetLength();
  const uint32_t reach = static_cast<uint32_t>(std::min<uint64_t>(length, zip::kEndRecordReach));
  // Chunks overlap by three bytes, so a chunk must be longer than that.
  const uint32_t chunk = static_cast<uint32_t>(std::max<int32_t>(searchBufferSize, 4));
  ByteBlock buffer(chunk, false);
  if (reach == 0) RaiseError(kZipNoEndRecord, "end record: the file is empty");
  uint32_t covered = 0;
  uint32_t upTo = 0;
  do {
    upTo = std::min(covered + chunk, reach);
    file.Seek(-static_cast<int64_t>(upTo), VolumeFile::end);
    const uint32_t count = upTo - covered;
    if (file.Read(buffer.data, count) != count)
      RaiseError(kZipBadArchive, "end record: the file ends while it is searched");
    for (int64_t i = static_cast<int64_t>(count) - 4; i >= 0; --i) {
      if (GetLe32(buffer.data + i) == zip::kEndRecordSignature)
        return length - upTo + static_cast<uint64_t>(i);
    }
    covered = upTo - 3;
  } while (upTo < reach);
  RaiseError(kZipNoEndRecord, "end record: no signature in the last 65557 bytes");
}

void CentralDirectory::ReadDirectory() {
  endRecordOffset = LocateEndRecord();
  VolumeFile& file = *storage->currentFile;
  file.Seek(static_cast<int64_t>(endRecordOffset), VolumeFile::begin);
  uint8_t e[zip::kEndRecordSize];
  if (file.Read(e, sizeof e) != sizeof e) RaiseError(kZipBadArchive, "end record: cut short");
  ByteCursor c(e, sizeof e);
  endRecord = EndRecord{};
  endRecord.signature = c.U32();
  endRecord.thisVolume = c.U16();
  endRecord.directoryVolume = c.U16();
  endRecord.entriesOnVolume = c.U16();
  endRecord.entriesTotal = c.U16();
  endRecord.directorySize = c.U32();
  endRecord.directoryOffset = c.U32();
  const uint16_t commentLength = c.U16();
  if (commentLength != 0) {
    comment.Allocate(commentLength, false);
    if (file.Read(comment.data, commentLength) != commentLength)
      RaiseError(kZipBadArchive, "end record: comment runs past the end of the file");
  }
  const uint64_t directoryEndsBefore = ReadZip64EndRecord();

  if (endRecord.thisVolume > zip::kMaxVolume || endRecord.directoryVolume > zip::kMaxVolume)
    RaiseError(kZipBadArchive, "end record: volume number beyond 65535");
  storage->SettleVolumeLayout(static_cast<uint16_t>(endRecord.thisVolume));
  const bool single = storage->IsMultiVolume() == 0;
  // Offset and size together may pass 64 bits only in a damaged record.
  const uint64_t directoryEnd = endRecord.directoryOffset + endRecord.directorySize;
  if (directoryEnd < endRecord.directoryOffset ||
      (single && directoryEndsBefore < directoryEnd))
    RaiseError(kZipBadArchive, "end record: directory runs past the end record");
  bytesBeforeArchive = single ? directoryEndsBefore - directoryEnd : 0;
  if ((endRecord.directorySize == 0) != (endRecord.entriesTotal == 0))
    RaiseError(kZipBadArchive, "end record: directory size and entry count disagree");
  readFromFile = true;
  storage->ChangeVolume(static_cast<int32_t>(endRecord.directoryVolume));
  if (endRecord.directorySize != 0) LoadEntryRecords();
}

uint64_t CentralDirectory::ReadZip64EndRecord() {
  VolumeFile& file = *storage->currentFile;
  if (endRecordOffset < zip::kZip64LocatorSize) return endRecordOffset;
  const uint64_t locatorOffset = endRecordOffset - zip::kZip64LocatorSize;
  uint8_t l[zip::kZip64LocatorSize];
  file.Seek(static_cast<int64_t>(locatorOffset), VolumeFile::begin);
  if (file.Read(l, sizeof l) != sizeof l) return endRecordOffset;
  ByteCursor locator(l, sizeof l);
  if (locator.U32() != zip::kZip64LocatorSignature) return endRecordOffset;
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
          endRecord.thisVolume == zip::kSaturated16 || endRecord.directoryVolume == zip::kSaturated16 ||
          endRecord.entriesOnVolume == zip::kSaturated16 || endRecord.entriesTotal == zip::kSaturated16 ||
          endRecord.directorySize == zip::kSaturated32 || endRecord.directoryOffset == zip::kSaturated32;
      if (saturated) RaiseError(kZipBadArchive, "ZIP64 end record: not where its locator points");
      return endRecordOffset;
    }
  }
  ByteCursor record(r, sizeof r);
  record.Skip(zip::kZip64EndRecordLead + 4);  // signature, size, versions
  endRecord.thisVolume = record.U32();
  endRecord.directoryVolume = record.U32();
  endRecord.entriesOnVolume = record.U64();
  endRecord.entriesTotal = record.U64();
  endRecord.directorySize = record.U64();
  endRecord.directoryOffset = record.U64();
  endRecord.zip64 = true;
  return position;
}

void CentralDirectory::LoadEntryRecords() {
  const auto start = static_cast<int64_t>(bytesBeforeArchive + endRecord.directoryOffset);
  storage->currentFile->Seek(start, VolumeFile::begin);
  DropEntryRecords();
  scannedLookups = 0;
  // Entries are numbered in 16 bits: a larger archive reads its first 65535.
  const size_t count = static_cast<size_t>(std::min<uint64_t>(endRecord.entriesTotal, zip::kMaxEntries));
  if (!TakeDirectoryBytes(count)) {
    storage->currentFile->Seek(start, VolumeFile::begin);
    headers.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      headers.push_back(std::make_unique<EntryRecord>());
      EntryRecord& header = *headers.back();
      if (const char* problem = header.ReadCentralHeader(*storage))
        RaiseError(kZipBadArchive, Numbered("central header", i, problem));
      header.ConvertNameCodePage();
      header.ConvertSeparators();
    }
  }
  if (nameIndexEnabled) BuildNameIndex();
}

bool CentralDirectory::TakeDirectoryBytes(size_t count) {
  // A single file's directory, read whole and measured record by record.
  // Whatever does not fit (a record that runs past the stated size, one
  // that is unsound, a directory over another volume) is read the record
  // by record way, which reports it as it always has.
  if (!readDirectoryWhole || storage->IsMultiVolume() != 0 ||
      endRecord.directorySize > kMaxDirectoryBytes)
    return false;
  const auto size = static_cast<uint32_t>(endRecord.directorySize);
  rawDirectory.Allocate(size, false);
  std::vector<uint32_t> offsets(count);
  uint32_t at = 0;
  bool whole = size == 0 || storage->currentFile->Read(rawDirectory.data, size) == size;
  for (size_t i = 0; whole && i < count; ++i) {
    const uint32_t length = EntryRecord::MeasureCentralHeader(rawDirectory.data + at, size - at);
    whole = length != 0;
    offsets[i] = at;
    at += length;
  }
  if (!whole) {
    rawDirectory.Release();
    return false;
  }
  rawOffsets = std::move(offsets);
  headers.resize(count);
  return true;
}

EntryRecord* CentralDirectory::Header(size_t index) const {
  std::unique_ptr<EntryRecord>& slot = headers[index];
  if (slot == nullptr) {
    auto record = std::make_unique<EntryRecord>();
    record->ParseCentralHeader(rawDirectory.data + rawOffsets[index]);
    record->ConvertNameCodePage();
    record->ConvertSeparators();
    slot = std::move(record);
  }
  return slot.get();
}

bool CentralDirectory::NameEquals(size_t index, plat::WStringView name, bool caseSensitive) const {
  if (headers[index] != nullptr) return headers[index]->NameEquals(name, caseSensitive);
  // Straight from the directory's bytes: the archive's code page mapped to
  // UTF-16 with "/" as "\\", as the record would have its name. A name
  // flagged as UTF-8 takes the record's way.
  const uint8_t* record = rawDirectory.data + rawOffsets[index];
  if ((GetLe16(record + zip::kCentralFlagsAt) & zip::kFlagUtf8Name) != 0)
    return Header(index)->NameEquals(name, caseSensitive);
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

const char16_t* CentralDirectory::OemNameTable() {
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

void CentralDirectory::DropEntryRecords() {
  // The index refers to the headers; it never outlives them.
  nameIndex.clear();
  indexedNames.clear();
  noCaseIndex.clear();
  uniqueNoCase.clear();
  lastFound = -1;
  currentEntry = nullptr;
  headers.clear();
  rawOffsets.clear();
  rawDirectory.Release();
}

void CentralDirectory::Clear(bool all) {
  currentEntry = nullptr;
  localExtraField.Release();
  if (all) {
    DropEntryRecords();
    comment.Release();
  }
}

bool CentralDirectory::IsValidIndex(int32_t index) const {
  return static_cast<uint16_t>(index) < headers.size();
}

void CentralDirectory::SeekEntry(uint16_t index) {
  if (index >= headers.size()) RaiseError(kZipBadArchive, Numbered("entry", index, "no such entry"));
  currentEntry = Header(index);
  currentIndex = index;
  currentZip64Local = false;
  storage->ChangeVolume(static_cast<int32_t>(currentEntry->diskNumberStart));
  storage->currentFile->Seek(static_cast<int64_t>(currentEntry->localHeaderOffset + bytesBeforeArchive),
                             VolumeFile::begin);
  if (const char* problem = currentEntry->ReadLocalHeader(*storage, localExtraField))
    RaiseError(kZipBadArchive, Numbered("entry", index, problem));
  currentZip64Local =
      zip::FindExtraBlock(localExtraField.data, localExtraField.size, zip::kExtraZip64).has_value();
}

void CentralDirectory::FinishEntry() {
  if (currentEntry == nullptr) return;
  localExtraField.Release();
  if (const char* problem = currentEntry->CheckDataDescriptor(*storage, currentZip64Local))
    RaiseError(kZipBadDescriptor, Numbered("entry", currentIndex, problem));
  currentEntry = nullptr;
}

void CentralDirectory::CloseDirectory() {
  // Archives are only read; a directory loaded from the file has nothing
  // to write back.
  if (readFromFile) return;
}

void CentralDirectory::BuildNameIndex() {
  nameIndex.clear();
  noCaseIndex.clear();
  uniqueNoCase.clear();
  indexedNames.assign(headers.size(), plat::WString());
  nameIndex.reserve(headers.size());
  // With distinct names, inserting one by one gives exactly the sorted
  // order, so a sort builds the same index without moving the array for
  // every entry. Equal names are placed by the bisection that meets them,
  // which only the insertion itself reproduces.
  for (size_t i = 0; i < headers.size(); ++i) {
    indexedNames[i] = Header(i)->GetNameWide();
    nameIndex.push_back(IndexEntry{Header(i), static_cast<uint16_t>(i)});
  }
  auto nameOf = [this](const IndexEntry& e) -> const plat::WString& {
    return indexedNames[e.directoryIndex];
  };
  std::sort(nameIndex.begin(), nameIndex.end(), [&](const IndexEntry& a, const IndexEntry& b) {
    return plat::CollateWide(nameOf(a), nameOf(b)) < 0;
  });
  const bool distinct =
      std::adjacent_find(nameIndex.begin(), nameIndex.end(),
                         [&](const IndexEntry& a, const IndexEntry& b) {
                           return plat::CollateWide(nameOf(a), nameOf(b)) == 0;
                         }) == nameIndex.end();
  if (distinct) return;
  nameIndex.clear();
  for (size_t i = 0; i < headers.size(); ++i)
    InsertIndexEntry(Header(i), static_cast<uint16_t>(i));
}

void CentralDirectory::InsertIndexEntry(EntryRecord* header, uint16_t directoryIndex) {
  if (indexedNames.size() <= directoryIndex) indexedNames.resize(directoryIndex + 1u);
  indexedNames[directoryIndex] = header->GetNameWide();
  const plat::WString& name = indexedNames[directoryIndex];
  size_t low = 0;
  size_t high = nameIndex.size();
  while (low < high) {
    const size_t middle = (low + high) / 2;
    const int c = CompareIndexEntry(name, middle, true);
    if (c > 0) {
      high = middle;
    } else if (c < 0) {
      low = middle + 1;
    } else {
      low = middle;
      break;
    }
  }
  nameIndex.insert(nameIndex.begin() + static_cast<ptrdiff_t>(low), IndexEntry{header, directoryIndex});
}

int32_t CentralDirectory::FindInIndex(plat::WStringView name, bool caseSensitive) const {
  int32_t low = 0;
  int32_t high = static_cast<int32_t>(nameIndex.size()) - 1;
  while (low <= high) {
    const int32_t middle = (low + high) / 2;
    const int c = CompareIndexEntry(name, static_cast<size_t>(middle), caseSensitive);
    if (c > 0)
      high = middle - 1;
    else if (c < 0)
      low = middle + 1;
    else
      return middle;
  }
  return -1;
}

int32_t CentralDirectory::FindByScanNoCase(plat::WStringView name) const {
  // Called after a lookup in the index, so every header's wide name is there.
  for (size_t i = 0; i < indexedNames.size() && i < headers.size(); ++i) {
    if (plat::CollateWideNoCase(indexedNames[i], name) == 0) return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t CentralDirectory::FindByScan(plat::WStringView name, bool caseSensitive) const {
  int32_t found = -1;
  for (size_t i = 0; i < headers.size(); ++i) {
    if (!NameEquals(i, name, caseSensitive)) continue;
    if (found >= 0) return kSeveralMatch;
    found = static_cast<int32_t>(i);
  }
  return found;
}

void CentralDirectory::MarkUniqueNames() {
  const size_t count = std::min(indexedNames.size(), headers.size());
  std::vector<std::pair<uint64_t, uint32_t>> hashes(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a of the folded name
    for (const char16_t c : indexedNames[i]) h = (h ^ plat::FoldCaseWide(c)) * 0x100000001b3ull;
    hashes[i] = {h, i};
  }
  std::sort(hashes.begin(), hashes.end());
  uniqueNoCase.assign(count, true);
  for (size_t i = 1; i < count; ++i) {
    if (hashes[i].first != hashes[i - 1].first) continue;
    uniqueNoCase[hashes[i].second] = false;
    uniqueNoCase[hashes[i - 1].second] = false;
  }
}

int32_t CentralDirectory::FindFollowing(plat::WStringView name, bool caseSensitive) {
  const size_t next = static_cast<size_t>(lastFound) + 1;
  if (lastFound < 0 || next >= std::min(indexedNames.size(), headers.size())) return -1;
  if (uniqueNoCase.empty()) MarkUniqueNames();
  if (!uniqueNoCase[next]) return -1;
  const int c = caseSensitive ? plat::CollateWide(indexedNames[next], name)
                              : plat::CollateWideNoCase(indexedNames[next], name);
  return c == 0 ? static_cast<int32_t>(next) : -1;
}

int32_t CentralDirectory::FindNoCase(plat::WStringView name) {
  const size_t count = std::min(indexedNames.size(), headers.size());
  const auto less = [this](uint32_t a, uint32_t b) {
    return plat::CollateWideNoCase(indexedNames[a], indexedNames[b]) < 0;
  };
  if (noCaseIndex.size() != count) {
    noCaseIndex.resize(count);
    for (uint32_t i = 0; i < count; ++i) noCaseIndex[i] = i;
    // Stable: among names equal without regard to case the smallest
    // directory index comes first, the one a scan finds.
    std::stable_sort(noCaseIndex.begin(), noCaseIndex.end(), less);
  }
  const auto it = std::lower_bound(
      noCaseIndex.begin(), noCaseIndex.end(), name, [this](uint32_t i, plat::WStringView n) {
        return plat::CollateWideNoCase(indexedNames[i], n) < 0;
      });
  if (it == noCaseIndex.end() || plat::CollateWideNoCase(indexedNames[*it], name) != 0) return -1;
  return static_cast<int32_t>(*it);
}

int CentralDirectory::CompareIndexEntry(plat::WStringView name, size_t position,
                                        bool caseSensitive) const {
  const IndexEntry& element = nameIndex[position];
  plat::WString converted;
  plat::WStringView elementName;
  if (element.directoryIndex < indexedNames.size()) {
    elementName = indexedNames[element.directoryIndex];
  } else {
    converted = element.header->GetNameWide();
    elementName = converted;
  }
  const int c = caseSensitive ? plat::CollateWide(elementName, name)
                              : plat::CollateWideNoCase(elementName, name);
  return (c > 0) - (c < 0);
}

void CentralDirectory::SetNameIndexEnabled(bool on) {
  nameIndexEnabled = on;
  if (on) {
    BuildNameIndex();
  } else {
    nameIndex.clear();
    indexedNames.clear();
    noCaseIndex.clear();
    uniqueNoCase.clear();
    lastFound = -1;
  }
}

[[noreturn]] void CentralDirectory::RaiseError(int32_t code, std::string detail) const {
  RaiseZipError(code, storage != nullptr ? storage->CurrentPath() : plat::WString(), std::move(detail));
}
