// One ZIP archive open for reading: its volumes, its central directory and
// the index of its names. Fixed once opened.
//
// Threads. Any number of threads may read different entries of one archive
// at once, each through an EntryReader of its own: a reader reads the
// volumes through a cursor of its own (a file position per volume file),
// taken from the archive's pool of cursors and given back when the reader
// goes, so that a single thread reuses one cursor and its open files. The
// records are made on first use and then never change. Lookups by name are
// serialised inside the archive. The archive must outlive its readers.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>
#include "platform/threads.h"
#include "upk4/archive_options.h"
#include "upk4/central_directory.h"
#include "upk4/entry_reader.h"
#include "upk4/name_index.h"
#include "upk4/volume_set.h"

class Archive {
 public:
  // Opens the archive whose end record is in the file at path. Throws
  // CZipException for a damaged archive, the storage's CFileException when
  // a file cannot be opened, std::bad_alloc.
  static std::unique_ptr<Archive> Open(plat::WStringView path, const ArchiveOptions& options);
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  size_t EntryCount() const { return m_directory.Count(); }
  // The record of an entry (index < EntryCount()).
  const EntryRecord& Entry(size_t index) const { return m_directory.Record(index); }
  // The directory index of the entry named name ("\" separators), -1 when
  // there is none; without regard to case unless caseSensitive.
  int32_t Find(plat::WStringView name, bool caseSensitive = false) const;
  // Builds the name index now (true) or drops it (false); lookups build it
  // themselves when they need it.
  void EnableNameIndex(bool on) const;

  // A reader of the entry, standing on its first byte. Null when the entry
  // is encrypted and no password is given (nothing is read then but its
  // local header). Throws CZipException for a damaged local header, a
  // password that does not fit, an unknown method.
  std::unique_ptr<EntryReader> OpenEntry(uint16_t index,
                                         std::optional<std::string_view> password) const;

  const ArchiveOptions& Options() const { return m_options; }
  const EndRecord& End() const { return m_directory.End(); }
  const ByteBlock& Comment() const { return m_directory.Comment(); }
  uint64_t BytesBeforeArchive() const { return m_directory.BytesBeforeArchive(); }
  // 0 for a single file, -1 for a split archive.
  int IsMultiVolume() const { return m_multiVolume; }
  // The number of the volume named with 1; -1 unless split.
  int32_t LastVolume() const { return m_lastVolume; }
  // The directory was read whole, its records made on first use.
  bool DirectoryReadWhole() const { return m_directory.ReadWhole(); }
  // Lookups answered by a scan of the records so far.
  uint32_t ScannedLookups() const;
  bool NameIndexEnabled() const;

 private:
  friend class EntryReader;
  friend struct ArchiveTestAccess;  // the tests' one way to the volume cursors
  explicit Archive(const ArchiveOptions& options);
  // A volume cursor for one reader, and its return.
  std::unique_ptr<VolumeSet> TakeCursor() const;
  void ReturnCursor(std::unique_ptr<VolumeSet> cursor) const;

  const ArchiveOptions m_options;
  CentralDirectory m_directory;
  int m_multiVolume = 0;
  int32_t m_lastVolume = -1;
  // The cursor the directory was read through, the model of every other:
  // only what it settled at the open is read from it (VolumeSet::Clone).
  const VolumeSet* m_first = nullptr;
  mutable plat::Mutex m_cursorsMutex;
  mutable std::vector<std::unique_ptr<VolumeSet>> m_idleCursors;
  mutable plat::Mutex m_lookupMutex;
  mutable NameIndex m_names;
  // Output claimed by the deflated entries opened so far: the fast
  // inflater decodes once it reaches the options' fastInflaterFrom.
  mutable std::atomic<uint64_t> m_deflatedClaimed{0};
};
