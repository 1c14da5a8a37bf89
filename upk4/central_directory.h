// The table of contents of an archive: the end record and one EntryRecord
// per entry. Read once when the archive opens, fixed after that. Records of
// a directory read whole are made from its bytes when first asked for;
// that is safe from several threads at once (the first one made is kept).
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include "upk4/byte_block.h"
#include "upk4/entry_record.h"
#include "upk4/name_index.h"

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

class CentralDirectory final : public NameSource {
 public:
  // A directory larger than this is read record by record.
  static constexpr uint64_t kMaxDirectoryBytes = 64u << 20;

  CentralDirectory() = default;
  ~CentralDirectory() override;
  CentralDirectory(const CentralDirectory&) = delete;
  CentralDirectory& operator=(const CentralDirectory&) = delete;

  // With the volumes opened on the file that should hold the end record:
  // finds and reads it, settles the volume layout, and reads the entries'
  // records. Throws CZipException (and the storage's CFileException).
  void Read(VolumeSet& volumes, uint32_t searchBufferSize, bool readWhole);

  size_t Count() const override { return m_count; }
  // The record of an entry (index < Count()).
  const EntryRecord& Record(size_t index) const;
  // Whether the entry's wide name equals name, from the record or straight
  // from the directory's bytes.
  bool NameEquals(size_t index, plat::WStringView name, bool caseSensitive) const override;
  plat::WString NameWide(size_t index) const override { return Record(index).GetNameWide(); }
  const EndRecord& End() const { return m_end; }
  const ByteBlock& Comment() const { return m_comment; }
  // Bytes in front of the archive in its file (a self-extractor's program).
  uint64_t BytesBeforeArchive() const { return m_bytesBeforeArchive; }
  // The directory was read whole and its records are made on first use.
  bool ReadWhole() const { return m_rawOffsets != nullptr; }

 private:
  uint64_t LocateEndRecord(VolumeSet& volumes, uint32_t searchBufferSize);
  // With the end record read: takes the ZIP64 end record's values when a
  // locator stands right before the end record. Returns the position of the
  // record that ends the directory (the ZIP64 end record or the end record).
  uint64_t ReadZip64EndRecord(VolumeSet& volumes);
  void LoadEntryRecords(VolumeSet& volumes, bool readWhole);
  // Reads a single file's directory whole; false when it must be read
  // record by record.
  bool TakeDirectoryBytes(VolumeSet& volumes, size_t count);
  void Drop();
  [[noreturn]] void RaiseError(const VolumeSet& volumes, int32_t code, std::string detail) const;

  EndRecord m_end;
  ByteBlock m_comment;
  uint64_t m_endRecordOffset = 0;
  uint64_t m_bytesBeforeArchive = 0;
  size_t m_count = 0;
  // One slot per entry; with the directory's bytes kept, a slot stays null
  // until its record is asked for.
  std::unique_ptr<std::atomic<EntryRecord*>[]> m_records;
  // The directory as read, and where each entry's record starts in it.
  ByteBlock m_raw;
  std::unique_ptr<uint32_t[]> m_rawOffsets;
};
