// Removal of a directory tree by handles, each entry opened relative to the
// directory that lists it: no path is ever rebuilt from names, so neither a
// depth past any path limit, nor a link or junction inside, nor the process's
// current directory can make the removal reach outside the tree. The steps
// that touch the system are behind TreeOps, so that the walk itself can be
// tried on trees that a test machine cannot make (junctions, foreign owners).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

enum class TreeEntryKind {
  File,       // removed as it is (a read-only one too)
  Directory,  // a real directory: emptied, then removed
  Link,       // a symbolic link, junction or any other reparse point:
              // removed as a link, its target never opened
};

class TreeOps {
 public:
  // An entry opened relative to its directory; closed when destroyed.
  class Entry {
   public:
    virtual ~Entry() = default;
    virtual TreeEntryKind Kind() const = 0;
    // The names in a directory, without "." and "..". False: the listing
    // failed.
    virtual bool List(std::vector<std::u16string>* names) = 0;
    // Opens a name listed in this directory without following it. Null when
    // it cannot be opened (gone meanwhile, in use, refused).
    virtual std::unique_ptr<Entry> Open(const std::u16string& name) = 0;
    // Removes the entry itself (a directory once empty), by its handle.
    virtual bool Remove() = 0;
  };
  virtual ~TreeOps() = default;
};

// Empties and removes the directory. Whatever cannot be removed is skipped
// and the rest goes on; true when the whole tree went. The walk keeps its own
// stack, so a tree of any depth costs no recursion. Depth is bounded by
// kMaxRemovalDepth, past which a subtree is left alone.
bool RemoveTreeByHandle(std::unique_ptr<TreeOps::Entry> root);

inline constexpr size_t kMaxRemovalDepth = 4096;

}  // namespace plat
