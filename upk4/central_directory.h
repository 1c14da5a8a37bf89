// The table of contents of an open archive: the end record, one EntryRecord
// per entry, and the name index for lookups by name.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "upk4/byte_block.h"
#include "upk4/entry_record.h"

class VolumeSet;

// The end record's values, widened to the ZIP64 end record's when the
// archive has one (then zip64 is set).
struct EndRecord {
  uint32_t signature = 0;
  uint32_t thisVolume = 0;
  uint32_t directoryVolume = 0;
  uint64_t entriesOnVolume = 0;
  uint64_t entriesTotal = 0;
  uint64_t directorySize = 0;
  uint64_t directoryOffset = 0;
  bool zip64 = false;
};

struct IndexEntry {
  EntryRecord* header = nullptr;  // not owned
  uint16_t directoryIndex = 0;
};

class CentralDirectory {
 public:
  CentralDirectory() = default;
  virtual ~CentralDirectory();
  CentralDirectory(const CentralDirectory&) = delete;
  CentralDirectory& operator=(const CentralDirectory&) = delete;

  void Reset();
  void ReadDirectory();
  uint64_t LocateEndRecord();
  // With the end record read: takes the ZIP64 end record's values when a
  // locator stands right before the end record. Returns the position of the
  // record that ends the directory (the ZIP64 end record or the end record).
  uint64_t ReadZip64EndRecord();
  void LoadEntryRecords();
  void DropEntryRecords();
  void Clear(bool all = true);
  bool IsValidIndex(int32_t index) const;
  void SeekEntry(uint16_t index);
  void FinishEntry();
  void CloseDirectory();  // the closing step of a normal close
  void BuildNameIndex();
  void InsertIndexEntry(EntryRecord* header, uint16_t directoryIndex);
  int32_t FindInIndex(plat::WStringView name, bool caseSensitive) const;
  // Directory index of the first header whose name equals name without
  // regard to case, or -1: by a scan, and the same answer by bisecting the
  // index without regard to case (built by one sort on its first use).
  int32_t FindByScanNoCase(plat::WStringView name) const;
  int32_t FindNoCase(plat::WStringView name);
  // Without the index: the directory index of the only header whose name
  // matches (without regard to case unless caseSensitive), -1 when none
  // does, kSeveralMatch when more than one does; then only the index tells
  // which of them a lookup finds.
  static constexpr int32_t kSeveralMatch = -2;
  int32_t FindByScan(plat::WStringView name, bool caseSensitive) const;
  int CompareIndexEntry(plat::WStringView name, size_t position, bool caseSensitive) const;
  // Switches the name index on (built at once from all headers) or off.
  void SetNameIndexEnabled(bool on);
  [[noreturn]] void RaiseError(int32_t code, std::string detail = {}) const;

  EndRecord endRecord;
  ByteBlock comment;
  EntryRecord* currentEntry = nullptr;  // not owned
  uint16_t currentIndex = 0;            // its directory index, for error details
  bool currentZip64Local = false;       // its local header carried ZIP64 sizes
  VolumeSet* storage = nullptr;         // not owned
  std::vector<std::unique_ptr<EntryRecord>> headers;
  ByteBlock localExtraField;
  std::vector<IndexEntry> nameIndex;
  // Wide names of the indexed headers, by directory index, so that lookups
  // do not convert names again on every comparison.
  std::vector<plat::WString> indexedNames;
  // Directory indexes ordered by name without regard to case, equal names
  // in directory order; empty until a lookup without regard to case misses
  // the index above.
  std::vector<uint32_t> noCaseIndex;
  uint64_t endRecordOffset = 0;
  uint64_t bytesBeforeArchive = 0;
  int32_t searchBufferSize = 32768;
  bool nameIndexEnabled = false;
  // Lookups answered by FindByScan since the directory was read.
  uint32_t scannedLookups = 0;
  bool readFromFile = false;
};
