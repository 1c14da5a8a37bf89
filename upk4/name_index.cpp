#include "upk4/name_index.h"
#include <algorithm>
#include <utility>
#include "platform/code_page.h"

namespace {

// Lookups by scan before the ordered index is built.
constexpr uint32_t kScannedLookups = 8;

}  // namespace

int32_t NameIndex::Find(plat::WStringView name, bool caseSensitive) {
  const int32_t found = FindAnyWay(name, caseSensitive);
  m_lastFound = found;
  return found;
}

int32_t NameIndex::FindAnyWay(plat::WStringView name, bool caseSensitive) {
  if (!m_enabled) {
    // The first few lookups scan: the index costs a conversion and a sort
    // of every name, more than a whole lookup in an archive opened for one
    // or two names. A name that matches once or not at all is found the
    // same way by the index; one that matches several entries needs the
    // index to tell which of them.
    if (m_scannedLookups < kScannedLookups) {
      ++m_scannedLookups;
      const int32_t found = FindByScan(name, caseSensitive);
      if (found != kSeveralMatch) return found;
    }
    Enable(true);
  }
  if (const int32_t following = FindFollowing(name, caseSensitive); following >= 0)
    return following;
  const int32_t position = FindInIndex(name, caseSensitive);
  if (position >= 0) return m_ordered[static_cast<size_t>(position)];
  // The index is ordered case-sensitively, so a bisection without regard to
  // case can step past a name that is there ("A11" behind "_x.txt" and
  // "a.txt"). A miss is confirmed in the index without regard to case,
  // which gives what a scan would: the first such entry of the directory.
  if (!caseSensitive) return FindNoCase(name);
  return -1;
}

void NameIndex::Enable(bool on) {
  if (m_enabled == on) return;
  m_enabled = on;
  if (on) {
    Build();
  } else {
    m_ordered.clear();
    m_names.clear();
    m_noCase.clear();
    m_uniqueNoCase.clear();
    m_lastFound = -1;
  }
}

int32_t NameIndex::FindByScan(plat::WStringView name, bool caseSensitive) const {
  int32_t found = -1;
  for (size_t i = 0; i < m_directory.Count(); ++i) {
    if (!m_directory.NameEquals(i, name, caseSensitive)) continue;
    if (found >= 0) return kSeveralMatch;
    found = static_cast<int32_t>(i);
  }
  return found;
}

void NameIndex::Build() {
  const size_t count = m_directory.Count();
  m_ordered.clear();
  m_noCase.clear();
  m_uniqueNoCase.clear();
  m_names.assign(count, plat::WString());
  m_ordered.reserve(count);
  // With distinct names, inserting one by one gives exactly the sorted
  // order, so a sort builds the same index without moving the array for
  // every entry. Equal names are placed by the bisection that meets them,
  // which only the insertion itself reproduces.
  for (size_t i = 0; i < count; ++i) {
    m_names[i] = m_directory.NameWide(i);
    m_ordered.push_back(static_cast<uint16_t>(i));
  }
  std::sort(m_ordered.begin(), m_ordered.end(), [&](uint16_t a, uint16_t b) {
    return plat::CollateWide(m_names[a], m_names[b]) < 0;
  });
  const bool distinct = std::adjacent_find(m_ordered.begin(), m_ordered.end(),
                                           [&](uint16_t a, uint16_t b) {
                                             return plat::CollateWide(m_names[a], m_names[b]) == 0;
                                           }) == m_ordered.end();
  if (distinct) return;
  m_ordered.clear();
  for (size_t i = 0; i < count; ++i) Insert(static_cast<uint16_t>(i));
}

void NameIndex::Insert(uint16_t directoryIndex) {
  const plat::WString& name = m_names[directoryIndex];
  size_t low = 0;
  size_t high = m_ordered.size();
  while (low < high) {
    const size_t middle = (low + high) / 2;
    const int c = Compare(name, middle, true);
    if (c > 0) {
      high = middle;
    } else if (c < 0) {
      low = middle + 1;
    } else {
      low = middle;
      break;
    }
  }
  m_ordered.insert(m_ordered.begin() + static_cast<ptrdiff_t>(low), directoryIndex);
}

int32_t NameIndex::FindInIndex(plat::WStringView name, bool caseSensitive) const {
  int32_t low = 0;
  int32_t high = static_cast<int32_t>(m_ordered.size()) - 1;
  while (low <= high) {
    const int32_t middle = (low + high) / 2;
    const int c = Compare(name, static_cast<size_t>(middle), caseSensitive);
    if (c > 0)
      high = middle - 1;
    else if (c < 0)
      low = middle + 1;
    else
      return middle;
  }
  return -1;
}

int NameIndex::Compare(plat::WStringView name, size_t position, bool caseSensitive) const {
  const plat::WString& element = m_names[m_ordered[position]];
  const int c = caseSensitive ? plat::CollateWide(element, name)
                              : plat::CollateWideNoCase(element, name);
  return (c > 0) - (c < 0);
}

void NameIndex::MarkUniqueNames() {
  const size_t count = m_names.size();
  std::vector<std::pair<uint64_t, uint32_t>> hashes(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a of the folded name
    for (const char16_t c : m_names[i]) h = (h ^ plat::FoldCaseWide(c)) * 0x100000001b3ull;
    hashes[i] = {h, i};
  }
  std::sort(hashes.begin(), hashes.end());
  m_uniqueNoCase.assign(count, true);
  for (size_t i = 1; i < count; ++i) {
    if (hashes[i].first != hashes[i - 1].first) continue;
    m_uniqueNoCase[hashes[i].second] = false;
    m_uniqueNoCase[hashes[i - 1].second] = false;
  }
}

int32_t NameIndex::FindFollowing(plat::WStringView name, bool caseSensitive) {
  const size_t next = static_cast<size_t>(m_lastFound) + 1;
  if (m_lastFound < 0 || next >= m_names.size()) return -1;
  if (m_uniqueNoCase.empty()) MarkUniqueNames();
  if (!m_uniqueNoCase[next]) return -1;
  const int c = caseSensitive ? plat::CollateWide(m_names[next], name)
                              : plat::CollateWideNoCase(m_names[next], name);
  return c == 0 ? static_cast<int32_t>(next) : -1;
}

int32_t NameIndex::FindNoCase(plat::WStringView name) {
  const size_t count = m_names.size();
  const auto less = [this](uint32_t a, uint32_t b) {
    return plat::CollateWideNoCase(m_names[a], m_names[b]) < 0;
  };
  if (m_noCase.size() != count) {
    m_noCase.resize(count);
    for (uint32_t i = 0; i < count; ++i) m_noCase[i] = i;
    // Stable: among names equal without regard to case the smallest
    // directory index comes first, the one a scan finds.
    std::stable_sort(m_noCase.begin(), m_noCase.end(), less);
  }
  const auto it = std::lower_bound(m_noCase.begin(), m_noCase.end(), name,
                                   [this](uint32_t i, plat::WStringView n) {
                                     return plat::CollateWideNoCase(m_names[i], n) < 0;
                                   });
  if (it == m_noCase.end() || plat::CollateWideNoCase(m_names[*it], name) != 0) return -1;
  return static_cast<int32_t>(*it);
}
