// POSIX system calls: Windows-form paths at the core, UTF-8 "/" paths at the
// system, and the case-insensitive lookup that makes "Upk2.dll" find "upk2.dll".
#include "platform/native_path.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/resolve_path.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <string>

#include "platform/code_page.h"
#include "platform/last_error.h"
#include "platform/posix/posix_support.h"
#include "platform/posix/thread_slot.h"

namespace plat {
namespace {

// A link that neither we nor root made leads wherever its owner likes: in a
// directory that others can write (the shared temporary path, the folder
// of a downloaded package) it is never taken for the name that was asked
// for, whether that name matched exactly or only without regard to case.
bool IsForeignLink(const struct stat& st) {
  return S_ISLNK(st.st_mode) && st.st_uid != ::geteuid() && st.st_uid != 0;
}

// 1 the name exists exactly, 0 it does not, -1 it is another user's link.
int ExistsExactly(const std::string& native) {
  struct stat st{};
  if (::lstat(native.c_str(), &st) != 0) return 0;
  return IsForeignLink(st) ? -1 : 1;
}


WString FoldedName(WStringView name) {
  WString folded(name);
  for (char16_t& c : folded) c = FoldCaseWide(c);
  return folded;
}

bool SameStamp(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// The names of the directories looked at last, by their case-folded form,
// so that creating many files in one directory, or many directories side
// by side with files in each, does not read a directory again for every
// new name. A listing is known by the directory's identity and trusted
// while the directory's times are those it was read with (or that this
// thread's own creations left), and for a short while at most: a change by
// another process within the same tick of the file system's clock is then
// seen at the latest after kListingLifetime.
// A directory with more names than kNamesKept is kept in a compact form:
// 64-bit hashes of its folded names, sorted, and the few hashes that several
// of its names share. It answers "no such name" without a read, which is
// what creating many new files in a large directory asks again and again;
// a name that may be there is looked up under its own spelling, and only
// when that is not it, or several names fold alike, is the directory read.
struct CompactNames {
  std::vector<uint64_t> hashes;              // sorted, one per distinct folded name
  std::unordered_set<uint64_t> added;        // this thread's creations since
  std::unordered_set<uint64_t> shared;       // hashes that several names have
  bool MayHave(uint64_t h) const {
    return added.count(h) != 0 || std::binary_search(hashes.begin(), hashes.end(), h);
  }
  size_t size() const { return hashes.size() + added.size(); }
};

struct DirectoryListing {
  struct stat stamp {};  // identity and times of the directory
  std::chrono::steady_clock::time_point readAt, usedAt;
  std::unordered_map<WString, std::string> byFoldedName;  // folded -> smallest actual name
  std::unique_ptr<CompactNames> compact;  // instead of byFoldedName, for large directories
  size_t Size() const { return compact ? compact->size() : byFoldedName.size(); }
};

// FNV-1a over the folded name's units, finished by a 64-bit mix.
uint64_t NameHash(WStringView folded) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (char16_t c : folded) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}
constexpr std::chrono::milliseconds kListingLifetime{1000};
// Enough for an archive's whole tree of directories, whose entries come in
// any order (a jar's classes are not grouped by package), and bounded by
// names too, so that a few huge directories cannot hold much memory.
constexpr size_t kListingsKept = 1024;
constexpr size_t kNamesKept = size_t{1} << 16;
// Compact listings hold 8 bytes a name: at most 16 MiB in all per thread.
constexpr size_t kCompactNamesKept = size_t{1} << 21;

struct DirectoryId {
  dev_t device;
  ino_t inode;
  bool operator==(const DirectoryId&) const = default;
};
struct DirectoryIdHash {
  size_t operator()(const DirectoryId& id) const {
    return std::hash<uint64_t>()(static_cast<uint64_t>(id.inode) * 0x9E3779B97F4A7C15ull ^
                                 static_cast<uint64_t>(id.device));
  }
};
DirectoryId IdOf(const struct stat& st) { return {st.st_dev, st.st_ino}; }

struct KeptListings {
  std::unordered_map<DirectoryId, DirectoryListing, DirectoryIdHash> byDirectory;
  size_t names = 0;         // in all full listings kept
  size_t compactNames = 0;  // in all compact listings kept
  // Directories whose every component was found free of other users'
  // links, and when; trusted as long as a listing is.
  std::unordered_map<std::string, std::chrono::steady_clock::time_point> linkFree;

  DirectoryListing* Find(const struct stat& directory) {
    const auto it = byDirectory.find(IdOf(directory));
    return it == byDirectory.end() ? nullptr : &it->second;
  }
  void Forget(const struct stat& directory) {
    const auto it = byDirectory.find(IdOf(directory));
    if (it == byDirectory.end()) return;
    Uncount(it->second);
    byDirectory.erase(it);
  }
  void Uncount(const DirectoryListing& listing) {
    (listing.compact ? compactNames : names) -= listing.Size();
  }
  // Keeps a fresh listing, making room by forgetting the least recently used
  // ones; null when the listing alone is beyond the bound.
  DirectoryListing* Keep(DirectoryListing&& fresh) {
    Forget(fresh.stamp);
    if (fresh.byFoldedName.size() > kNamesKept) Compact(fresh);
    const bool compact = fresh.compact != nullptr;
    const size_t size = fresh.Size();
    if (compact && size > kCompactNamesKept) return nullptr;
    auto over = [&] {
      return byDirectory.size() >= kListingsKept ||
             (compact ? compactNames + size > kCompactNamesKept : names + size > kNamesKept);
    };
    while (!byDirectory.empty() && over()) {
      auto oldest = byDirectory.begin();
      for (auto it = byDirectory.begin(); it != byDirectory.end(); ++it)
        if (it->second.usedAt < oldest->second.usedAt) oldest = it;
      Uncount(oldest->second);
      byDirectory.erase(oldest);
    }
    (compact ? compactNames : names) += size;
    const DirectoryId id = IdOf(fresh.stamp);
    return &(byDirectory[id] = std::move(fresh));
  }
  // Replaces the full listing by its hashes.
  static void Compact(DirectoryListing& listing) {
    auto compact = std::make_unique<CompactNames>();
    compact->hashes.reserve(listing.byFoldedName.size());
    for (const auto& [folded, name] : listing.byFoldedName) compact->hashes.push_back(NameHash(folded));
    std::sort(compact->hashes.begin(), compact->hashes.end());
    // Two folded names with one hash (as rare as 1 in 2^64 a pair): that
    // hash is always looked up by reading the directory.
    for (size_t i = 1; i < compact->hashes.size(); ++i) {
      if (compact->hashes[i] == compact->hashes[i - 1]) compact->shared.insert(compact->hashes[i]);
    }
    compact->hashes.erase(std::unique(compact->hashes.begin(), compact->hashes.end()),
                          compact->hashes.end());
    listing.byFoldedName = {};
    listing.compact = std::move(compact);
  }
  void NameAdded(DirectoryListing& listing, WString folded, const std::string& name) {
    if (listing.compact) {
      const uint64_t h = NameHash(folded);
      if (listing.compact->MayHave(h)) {
        listing.compact->shared.insert(h);  // a second name of that form, or a collision
      } else if (listing.compact->added.insert(h).second) {
        ++compactNames;
      }
      return;
    }
    auto [it, inserted] = listing.byFoldedName.emplace(std::move(folded), name);
    if (inserted) ++names;
    else if (name < it->second) it->second = name;
  }
};

// One set per thread, without a thread_local destructor (thread_slot.h):
// kept beyond a single call so that names resolved one after another in
// the same directories cost one listing, and per thread so that no lock is
// needed and no thread sees another's stale listing.
KeptListings& ThreadListings() {
  static posix::ThreadSlot<KeptListings> slot;
  return slot.Get();
}
thread_local uint64_t t_namesRead = 0;  // trivially destroyed: pins nothing

// Reads the directory into a listing. Names that are not valid UTF-8 would
// compare as replacement characters and could stand in for one another:
// they are left out and only ever match exactly.
bool ReadListing(const std::string& directory, DirectoryListing* listing) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.empty() ? "." : directory.c_str()),
                                          &::closedir);
  if (!dir) return false;
  listing->byFoldedName.clear();
  while (dirent* entry = ::readdir(dir.get())) {
    ++t_namesRead;
    const std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    const WString wide = Utf8ToUtf16(candidate);
    if (Utf16ToUtf8(wide) != candidate) continue;
    auto [it, inserted] = listing->byFoldedName.emplace(FoldedName(wide), candidate);
    if (!inserted && candidate < it->second) it->second = candidate;
  }
  return true;
}

// The entry of the directory that equals name without regard to case; the
// smallest such name when several do, so the choice does not depend on the
// directory's order.
// known, when given, is the directory's lstat() of a moment ago: a directory
// that is no link, so stat() would say the same.
// On success *candidateStat, when asked for, is the lstat() of the name found.
bool FindNoCase(const std::string& directory, const std::string& name, std::string* found,
                const struct stat* known = nullptr, struct stat* candidateStat = nullptr) {
  const std::string dirPath = directory.empty() ? "." : directory;
  struct stat before {};
  if (known != nullptr && S_ISDIR(known->st_mode)) {
    before = *known;
  } else if (::stat(dirPath.c_str(), &before) != 0) {
    return false;
  }
  KeptListings& kept = ThreadListings();
  const auto now = std::chrono::steady_clock::now();
  DirectoryListing* listing = kept.Find(before);
  DirectoryListing fresh;
  if (listing == nullptr || !SameStamp(listing->stamp, before) ||
      now - listing->readAt > kListingLifetime) {
    if (!ReadListing(dirPath, &fresh)) return false;
    fresh.stamp = before;
    fresh.readAt = now;
    struct stat after {};
    // Changed while it was read: usable for this answer, not kept.
    const bool keep = ::stat(dirPath.c_str(), &after) == 0 && SameStamp(before, after);
    listing = nullptr;
    // Keep leaves fresh as it is when it does not take it.
    if (keep) {
      listing = kept.Keep(std::move(fresh));
    } else {
      kept.Forget(before);
    }
    if (listing == nullptr) listing = &fresh;
  }
  listing->usedAt = now;
  const WString wanted = Utf8ToUtf16(name);
  if (Utf16ToUtf8(wanted) != name) return false;
  const WString folded = FoldedName(wanted);
  std::string match;
  if (listing->compact) {
    const uint64_t h = NameHash(folded);
    if (!listing->compact->MayHave(h)) return false;  // no read: the common case
    struct stat exact {};
    if (listing->compact->shared.count(h) == 0 &&
        ::lstat(posix::NativeJoin(dirPath, name).c_str(), &exact) == 0) {
      match = name;  // the only name of that form is the one asked for
    } else {
      DirectoryListing full;
      if (!ReadListing(dirPath, &full)) return false;
      const auto it = full.byFoldedName.find(folded);
      if (it == full.byFoldedName.end()) return false;
      match = it->second;
    }
  } else {
    const auto it = listing->byFoldedName.find(folded);
    if (it == listing->byFoldedName.end()) return false;
    match = it->second;
  }
  // Only to an object of the user's own: a look-alike name that another user
  // planted in a shared directory (a "setuptemp0" link once our
  // "SetupTemp0" is gone) is never taken for the name that was asked for.
  struct stat candidate {};
  if (::lstat(posix::NativeJoin(dirPath, match).c_str(), &candidate) != 0 ||
      candidate.st_uid != ::geteuid())
    return false;
  *found = match;
  if (candidateStat != nullptr) *candidateStat = candidate;
  return true;
}

// Whether a component of the directory (the directory itself included) is
// another user's link: the kernel would follow it on the way to any name
// in it, exact or not.
bool DirectoryHasForeignLink(const std::string& directory) {
  if (directory.empty() || directory == "/" || directory == ".") return false;
  KeptListings& kept = ThreadListings();
  const auto now = std::chrono::steady_clock::now();
  const auto it = kept.linkFree.find(directory);
  if (it != kept.linkFree.end() && now - it->second <= kListingLifetime) return false;
  for (size_t end = directory.find('/', 1);; end = directory.find('/', end + 1)) {
    struct stat st {};
    if (::lstat(directory.substr(0, end).c_str(), &st) == 0 && IsForeignLink(st)) return true;
    if (end == std::string::npos) break;
  }
  if (kept.linkFree.size() >= kListingsKept) kept.linkFree.clear();
  kept.linkFree[directory] = now;
  return false;
}

}  // namespace

std::string ToNativePath(WStringView path) {
  std::string native = Utf16ToUtf8(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

WString FromNativePath(std::string_view native) {
  WString path = Utf8ToUtf16(native);
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  return path;
}

std::string ResolveNativePath(WStringView path) { return posix::Resolve(path).native; }

namespace posix {
namespace {

ResolvedPath RefuseForeignLink() {
  SetLastError(ERROR_STOPPED_ON_SYMLINK);
  ResolvedPath refused;
  refused.refusal = ERROR_STOPPED_ON_SYMLINK;
  return refused;
}

}  // namespace

bool FindNameNoCase(const std::string& directory, const std::string& name, std::string* found) {
  return FindNoCase(directory, name, found);
}

ResolvedPath Resolve(WStringView path) {
  ResolvedPath resolved;
  // The system would end the name at the NUL and act on a shorter name than
  // every check before it saw ("upk4.dll\0.txt" is "upk4.dll" there).
  if (path.find(u'\0') != WStringView::npos) {
    SetLastError(ERROR_INVALID_NAME);
    resolved.refusal = ERROR_INVALID_NAME;
    return resolved;
  }
  std::string native = ToNativePath(path);
  if (native.empty()) return resolved;
  if (::lstat(native.c_str(), &resolved.self) == 0) {
    if (IsForeignLink(resolved.self) || DirectoryHasForeignLink(NativeParent(native)))
      return RefuseForeignLink();
    resolved.native = std::move(native);
    resolved.selfKnown = resolved.exists = true;
    return resolved;
  }
  const int missing = errno;

  // Usually only the last component is new or differs in case: one look at
  // the parent settles it without walking the whole path.
  const size_t slash = native.rfind('/');
  if (slash != std::string::npos && slash + 1 < native.size()) {
    const std::string parent = slash == 0 ? "/" : native.substr(0, slash);
    const std::string last = native.substr(slash + 1);
    struct stat parentStat {};
    if (last != "." && last != ".." && ::lstat(parent.c_str(), &parentStat) == 0) {
      if (DirectoryHasForeignLink(parent)) return RefuseForeignLink();
      if (S_ISDIR(parentStat.st_mode)) {
        resolved.parentKnown = true;
        resolved.parent = parentStat;
      }
      std::string found;
      resolved.selfKnown = true;
      if (FindNoCase(parent, last, &found, &parentStat, &resolved.self)) {
        resolved.native = NativeJoin(parent, found);
        resolved.exists = true;
      } else {
        resolved.native = std::move(native);
        resolved.missingErrno = missing;
      }
      return resolved;
    }
  }

  std::string result;
  size_t pos = 0;
  if (native[0] == '/') {
    result = "/";
    pos = 1;
  }
  bool unmatched = false;  // once a component matches nothing, the rest is kept
  while (pos <= native.size()) {
    size_t end = native.find('/', pos);
    if (end == std::string::npos) end = native.size();
    std::string component = native.substr(pos, end - pos);
    std::string next = component;
    if (!unmatched && !component.empty() && component != "." && component != "..") {
      std::string candidate = result + component;
      const int exists = ExistsExactly(candidate);
      if (exists < 0) return RefuseForeignLink();
      if (exists == 0) {
        std::string found;
        if (FindNoCase(result, component, &found)) {
          next = found;
        } else {
          unmatched = true;
        }
      }
    }
    result += next;
    if (end < native.size()) result += '/';
    pos = end + 1;
  }
  resolved.native = std::move(result);
  return resolved;
}

bool LstatResolved(const ResolvedPath& resolved, struct stat* st) {
  if (!resolved.selfKnown) return ::lstat(resolved.native.c_str(), st) == 0;
  if (!resolved.exists) {
    errno = resolved.missingErrno;
    return false;
  }
  *st = resolved.self;
  return true;
}

bool StatResolved(const ResolvedPath& resolved, struct stat* st) {
  // Only a link needs following; anything else is what lstat() saw.
  if (resolved.selfKnown && !(resolved.exists && S_ISLNK(resolved.self.st_mode)))
    return LstatResolved(resolved, st);
  return ::stat(resolved.native.c_str(), st) == 0;
}

void NoteFileCreated(const std::string& nativePath, const struct stat* parentBefore) {
  KeptListings& kept = ThreadListings();
  if (kept.byDirectory.empty()) return;
  // Without a listing of the directory there is nothing to keep current.
  if (parentBefore != nullptr && kept.Find(*parentBefore) == nullptr) return;
  struct stat now {};
  if (::stat(NativeParent(nativePath).c_str(), &now) != 0) return;
  DirectoryListing* listing = kept.Find(now);
  if (listing == nullptr) return;
  // The listing holds the new name and takes the directory's new times only
  // when it was current just before this creation; a change by anyone else
  // in between would otherwise hide behind those times. Else it is read
  // again when next needed.
  if (parentBefore == nullptr || !SameStamp(listing->stamp, *parentBefore)) {
    kept.Forget(now);
    return;
  }
  const std::string name = nativePath.substr(nativePath.rfind('/') + 1);
  const WString wide = Utf8ToUtf16(name);
  if (Utf16ToUtf8(wide) == name) kept.NameAdded(*listing, FoldedName(wide), name);
  listing->stamp = now;
}

uint64_t NamesReadFromDirectories() { return t_namesRead; }

std::string NativeParent(const std::string& nativePath) {
  std::string path = nativePath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NativeJoin(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

}  // namespace posix
}  // namespace plat
