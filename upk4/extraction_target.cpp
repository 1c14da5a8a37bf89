#include "upk4/extraction_target.h"
#include "platform/native_path.h"
#include "upk4/path_functions.h"

namespace {

bool IsRootedOrDriveQualified(plat::WStringView path) {
  if (!path.empty() && plat::IsPathSeparator(path.front())) return true;  // "\x", "\\server"
  return path.size() >= 2 && path[1] == u':';                             // "C:x"
}

// A relative path that names something strictly below its base directory.
bool StaysBelowBase(plat::WStringView path) {
  if (IsRootedOrDriveQualified(path)) return false;
  bool namesSomething = false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !plat::IsPathSeparator(path[end])) ++end;
    const plat::WStringView component = path.substr(start, end - start);
    if (component == u"..") return false;
    if (!component.empty() && component != u".") namesSomething = true;
    start = end + 1;
  }
  return namesSomething;
}

}  // namespace

std::optional<plat::WString> BuildExtractionTarget(plat::WStringView destDir,
                                                   plat::WStringView name, bool fullPath) {
  if (fullPath && IsRootedOrDriveQualified(name)) return std::nullopt;
  const plat::WString part = fullPath ? GetPathWithoutDrive(name) : GetFileNamePart(name);
  if (!StaysBelowBase(part)) return std::nullopt;

  // No destination means the current directory, not the root that a lone
  // "\" in front of the name would make of it.
  if (destDir.empty()) return part;
  plat::WString target(destDir);
  while (!target.empty() && plat::IsPathSeparator(target.back())) target.pop_back();
  target += u'\\';
  target += part;
  return target;
}
