// The walk of a tree removal: depth first, one open handle per level.
#include "platform/tree_removal.h"

namespace plat {

bool RemoveTreeByHandle(std::unique_ptr<TreeOps::Entry> root) {
  if (!root) return false;
  if (root->Kind() != TreeEntryKind::Directory) return root->Remove();

  struct Level {
    std::unique_ptr<TreeOps::Entry> directory;
    std::vector<std::u16string> names;
    size_t next = 0;
    bool complete = true;  // everything below went
  };
  std::vector<Level> stack;
  auto enter = [&stack](std::unique_ptr<TreeOps::Entry> directory) {
    Level level;
    level.complete = directory->List(&level.names);
    level.directory = std::move(directory);
    stack.push_back(std::move(level));
  };
  enter(std::move(root));

  bool rootRemoved = false;
  while (!stack.empty()) {
    Level& top = stack.back();
    if (top.next < top.names.size()) {
      std::unique_ptr<TreeOps::Entry> child = top.directory->Open(top.names[top.next++]);
      if (!child) {
        top.complete = false;
      } else if (child->Kind() == TreeEntryKind::Directory && stack.size() < kMaxRemovalDepth) {
        enter(std::move(child));  // `top` is not used after this
      } else if (child->Kind() == TreeEntryKind::Directory || !child->Remove()) {
        top.complete = false;
      }
      continue;
    }
    // Every name of this level was tried: the directory goes when it is empty.
    const bool removed = top.complete && top.directory->Remove();
    stack.pop_back();
    if (stack.empty()) {
      rootRemoved = removed;
    } else if (!removed) {
      stack.back().complete = false;
    }
  }
  return rootRemoved;
}

}  // namespace plat
