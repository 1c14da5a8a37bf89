// Lookups of entries by name over a central directory: a few scans first,
// then an index ordered by name (built at once from all records), an index
// without regard to case built on its first need, and a shortcut for the
// entry after the one found last. Not safe for concurrent use: the archive
// serialises lookups.
#pragma once
#include <cstdint>
#include <vector>
#include "platform/win_types.h"

// The names that an index looks up: the central directory's, or a test's.
class NameSource {
 public:
  virtual ~NameSource() = default;
  virtual size_t Count() const = 0;
  // The wide name of entry index ("\" separators).
  virtual plat::WString NameWide(size_t index) const = 0;
  // Whether NameWide(index) equals name (folded, unless caseSensitive).
  virtual bool NameEquals(size_t index, plat::WStringView name, bool caseSensitive) const = 0;
};

class NameIndex {
 public:
  explicit NameIndex(const NameSource& names) : m_directory(names) {}
  NameIndex(const NameIndex&) = delete;
  NameIndex& operator=(const NameIndex&) = delete;

  // The directory index of the entry named name, -1 when there is none.
  // Among several entries of one name, the one the ordered index finds.
  int32_t Find(plat::WStringView name, bool caseSensitive);
  // Builds the ordered index now (true) or drops it (false).
  void Enable(bool on);
  bool Enabled() const { return m_enabled; }
  // Lookups answered by a scan so far.
  uint32_t ScannedLookups() const { return m_scannedLookups; }

 private:
  static constexpr int32_t kSeveralMatch = -2;
  int32_t FindAnyWay(plat::WStringView name, bool caseSensitive);
  // Without the index: the directory index of the only record whose name
  // matches, -1 when none does, kSeveralMatch when more than one does; then
  // only the index tells which of them a lookup finds.
  int32_t FindByScan(plat::WStringView name, bool caseSensitive) const;
  void Build();
  void Insert(uint16_t directoryIndex);
  int32_t FindInIndex(plat::WStringView name, bool caseSensitive) const;
  int Compare(plat::WStringView name, size_t position, bool caseSensitive) const;
  // With the index built: the entry after the one found last, when its name
  // matches and no other entry's name equals it without regard to case, so
  // that every lookup gives it; else -1. Extracting a whole archive name by
  // name in directory order then skips the bisection.
  int32_t FindFollowing(plat::WStringView name, bool caseSensitive);
  void MarkUniqueNames();
  // The first record whose name equals name without regard to case, or -1.
  int32_t FindNoCase(plat::WStringView name);

  friend struct NameIndexTestAccess;
  const NameSource& m_directory;
  bool m_enabled = false;
  uint32_t m_scannedLookups = 0;
  int32_t m_lastFound = -1;  // the entry the last lookup found, -1 after a miss
  // Directory indexes ordered by name (case-sensitively).
  std::vector<uint16_t> m_ordered;
  // Wide names by directory index, so that lookups do not convert names
  // again on every comparison.
  std::vector<plat::WString> m_names;
  // Directory indexes ordered by name without regard to case, equal names
  // in directory order; empty until a lookup without regard to case misses
  // the ordered index.
  std::vector<uint32_t> m_noCase;
  // By directory index: no other name equals this one without regard to
  // case (names whose folded forms share a hash count as not unique).
  std::vector<bool> m_uniqueNoCase;
};
