// The payload files and directories given on the command line, as archive
// entries with relative names.
#pragma once
#include <cstdint>
#include <filesystem>
#include <vector>
#include "platform/win_types.h"

namespace upkpack {

struct PayloadItem {
  std::filesystem::path source;  // a directory's own path too (for its time), "" for "DIR/."
  plat::WString name;            // relative, "/" separators, "/" at the end of a directory
  bool directory = false;
  uint64_t size = 0;
};

// A FILE becomes one entry under its own name. A DIR becomes an entry for
// itself and one for everything below it, under the directory's name; a DIR
// given as "DIR/." puts its contents at the top. Directory trees come in
// name order. A symbolic link inside a directory is refused (PackError,
// naming --dereference) unless `dereference` is set: then it is stored as
// what it points to, a file or a directory tree (a link to a directory that
// holds it is refused). What the arguments themselves name
// is always followed. Special files are refused.
std::vector<PayloadItem> CollectPayload(const std::vector<std::filesystem::path>& arguments,
                                        bool dereference = false);

// Throws PackError when two names differ only in case (they would collide
// when extracted on Windows).
void CheckDistinctNames(const std::vector<plat::WString>& names);

}  // namespace upkpack
