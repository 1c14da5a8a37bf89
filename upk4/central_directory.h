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
  // Reads a single file's directory whole; false when it must be read
  // record by record.
  bool TakeDirectoryBytes(size_t count);
  // The record of an entry, made from the directory's bytes when first
  // asked for.
  EntryRecord* Header(size_t index) const;
  // Whether the entry's wide name equals name, from the record or straight
  // from the directory's bytes.
  bool NameEquals(size_t index, plat::WStringView name, bool caseSensitive) const;
  static const char16_t* OemNameTable();
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
  // With the index built: the entry after the one found last, when its name
  // matches and no other entry's name equals it without regard to case, so
  // that every lookup gives it; else -1. Extracting a whole archive name by
  // name in directory order then skips the bisection.
  int32_t FindFollowing(plat::WStringView name, bool caseSensitive);
  void MarkUniqueNames();
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
  // One slot per entry; with the directory's bytes kept, a slot stays empty
  // until its record is asked for (Header).
  mutable std::vector<std::unique_ptr<EntryRecord>> headers;
  // The directory as read, and where each entry's record starts in it.
  static constexpr uint64_t kMaxDirectoryBytes = 64u << 20;
  bool readDirectoryWhole = true;  // false: always record by record
  ByteBlock rawDirectory;
  std::vector<uint32_t> rawOffsets;
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
  // The entry the last lookup found, -1 after a miss.
  int32_t lastFound = -1;
  // By directory index: no other name equals this one without regard to
  // case (names whose folded forms share a hash count as not unique).
  // Empty until FindFollowing first needs it.
  std::vector<bool> uniqueNoCase;
  bool readFromFile = false;
};
