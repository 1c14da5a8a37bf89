#include "upk4/central_directory.h"
#include <algorithm>
#include <limits>
#include "platform/code_page.h"
#include "upk4/little_endian.h"
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

uint32_t CentralDirectory::LocateEndRecord() {
  CFile& file = *storage->currentFile;
  const uint64_t length = file.GetLength();
  const uint32_t reach = static_cast<uint32_t>(std::min<uint64_t>(length, kEndRecordReach));
  // Chunks overlap by three bytes, so a chunk must be longer than that.
  const uint32_t chunk = static_cast<uint32_t>(std::max<int32_t>(searchBufferSize, 4));
  ByteBlock buffer(chunk, false);
  if (reach == 0) RaiseError(kZipNoEndRecord);
  uint32_t covered = 0;
  uint32_t upTo = 0;
  do {
    upTo = std::min(covered + chunk, reach);
    file.Seek(-static_cast<int64_t>(upTo), CFile::end);
    const uint32_t count = upTo - covered;
    if (file.Read(buffer.data, count) != count) RaiseError(kZipBadArchive);
    for (int64_t i = static_cast<int64_t>(count) - 4; i >= 0; --i) {
      if (GetLe32(buffer.data + i) == kEndRecordSignature) {
        const uint64_t position = length - upTo + static_cast<uint64_t>(i);
        // Offsets in the records are 32-bit: an end record further into a
        // file cannot describe its archive.
        if (position > std::numeric_limits<uint32_t>::max()) RaiseError(kZipBadArchive);
        return static_cast<uint32_t>(position);
      }
    }
    covered = upTo - 3;
  } while (upTo < reach);
  RaiseError(kZipNoEndRecord);
}

void CentralDirectory::ReadDirectory() {
  endRecordOffset = LocateEndRecord();
  CFile& file = *storage->currentFile;
  file.Seek(endRecordOffset, CFile::begin);
  uint8_t e[kEndRecordSize];
  if (file.Read(e, kEndRecordSize) != kEndRecordSize) RaiseError(kZipBadArchive);
  endRecord.signature = GetLe32(e);
  endRecord.thisVolume = GetLe16(e + 4);
  endRecord.directoryVolume = GetLe16(e + 6);
  endRecord.entriesOnVolume = GetLe16(e + 8);
  endRecord.entriesTotal = GetLe16(e + 10);
  endRecord.directorySize = GetLe32(e + 12);
  endRecord.directoryOffset = GetLe32(e + 16);
  const uint16_t commentLength = GetLe16(e + 20);

  storage->SettleVolumeLayout(endRecord.thisVolume);
  const bool single = storage->IsMultiVolume() == 0;
  // Summed in 64 bits: a directory whose offset and size wrap around must
  // not pass for one that ends before the end record.
  const uint64_t directoryEnd =
      static_cast<uint64_t>(endRecord.directoryOffset) + endRecord.directorySize;
  if (single && endRecordOffset < directoryEnd) RaiseError(kZipBadArchive);
  if (commentLength != 0) {
    comment.Allocate(commentLength, false);
    if (file.Read(comment.data, commentLength) != commentLength) RaiseError(kZipBadArchive);
  }
  bytesBeforeArchive = single ? static_cast<uint32_t>(endRecordOffset - directoryEnd) : 0;
  if ((endRecord.directorySize == 0) != (endRecord.entriesTotal == 0)) RaiseError(kZipBadArchive);
  readFromFile = true;
  storage->ChangeVolume(endRecord.directoryVolume);
  if (endRecord.directorySize != 0) LoadEntryRecords();
}

void CentralDirectory::LoadEntryRecords() {
  storage->currentFile->Seek(static_cast<int64_t>(bytesBeforeArchive) + endRecord.directoryOffset,
                             CFile::begin);
  DropEntryRecords();
  headers.reserve(endRecord.entriesTotal);
  for (uint32_t i = 0; i < endRecord.entriesTotal; ++i) {
    headers.push_back(std::make_unique<EntryRecord>());
    EntryRecord& header = *headers.back();
    if (!header.ReadCentralHeader(*storage)) RaiseError(kZipBadArchive);
    header.ConvertNameCodePage();
    header.ConvertSeparators();
  }
  if (nameIndexEnabled) BuildNameIndex();
}

void CentralDirectory::DropEntryRecords() {
  // The index refers to the headers; it never outlives them.
  nameIndex.clear();
  indexedNames.clear();
  noCaseIndex.clear();
  currentEntry = nullptr;
  headers.clear();
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
  if (index >= headers.size()) RaiseError(kZipBadArchive);
  currentEntry = headers[index].get();
  storage->ChangeVolume(currentEntry->diskNumberStart);
  storage->currentFile->Seek(
      static_cast<int64_t>(currentEntry->localHeaderOffset) + bytesBeforeArchive, CFile::begin);
  uint16_t localExtraLength = 0;
  if (!currentEntry->ReadLocalHeader(*storage, localExtraLength)) RaiseError(kZipBadArchive);
  localExtraField.Release();
  if (localExtraLength != 0) {
    const int32_t volume = storage->GetCurrentVolume();
    localExtraField.Allocate(localExtraLength, false);
    storage->Read(localExtraField.data, localExtraLength, true);
    if (storage->GetCurrentVolume() != volume) RaiseError(kZipBadArchive);
  }
}

void CentralDirectory::FinishEntry() {
  if (currentEntry == nullptr) return;
  localExtraField.Release();
  if (!currentEntry->CheckDataDescriptor(*storage)) RaiseError(kZipBadDescriptor);
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
  indexedNames.assign(headers.size(), plat::WString());
  nameIndex.reserve(headers.size());
  // With distinct names, inserting one by one gives exactly the sorted
  // order, so a sort builds the same index without moving the array for
  // every entry. Equal names are placed by the bisection that meets them,
  // which only the insertion itself reproduces.
  for (size_t i = 0; i < headers.size(); ++i) {
    indexedNames[i] = headers[i]->GetNameWide();
    nameIndex.push_back(IndexEntry{headers[i].get(), static_cast<uint16_t>(i)});
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
    InsertIndexEntry(headers[i].get(), static_cast<uint16_t>(i));
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
  }
}

[[noreturn]] void CentralDirectory::RaiseError(int32_t code) const {
  RaiseZipError(code, storage != nullptr && storage->currentFile != nullptr
                          ? storage->currentFile->GetFilePath()
                          : plat::WString());
}
