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

bool HasOverlongComponent(plat::WStringView path) {
  size_t run = 0;
  for (char16_t c : path) {
    run = plat::IsPathSeparator(c) ? 0 : run + 1;
    if (run > kMaxNameComponent) return true;
  }
  return false;
}

std::optional<plat::WString> Refuse(TargetRefusal* refusal, uint32_t error, plat::WString reason) {
  if (refusal) *refusal = {error, std::move(reason)};
  return std::nullopt;
}

}  // namespace

std::optional<plat::WString> BuildExtractionTarget(plat::WStringView destDir,
                                                   plat::WStringView name, bool fullPath,
                                                   TargetRefusal* refusal, bool windowsNames) {
  constexpr const char16_t* kLeaves = u"the name would leave the destination directory";
  if (fullPath && IsRootedOrDriveQualified(name))
    return Refuse(refusal, plat::ERROR_INVALID_NAME, kLeaves);
  const plat::WString part = fullPath ? GetPathWithoutDrive(name) : GetFileNamePart(name);
  if (!StaysBelowBase(part)) return Refuse(refusal, plat::ERROR_INVALID_NAME, kLeaves);
  // A name is never cut to fit: that would write another file than the
  // entry's, or two entries into one.
  if (HasOverlongComponent(part))
    return Refuse(refusal, plat::ERROR_FILENAME_EXCED_RANGE,
                  u"a component of the name is longer than 255 characters");
  if (windowsNames) {
    if (std::optional<plat::WString> problem = plat::WindowsNameProblem(part))
      return Refuse(refusal, plat::ERROR_INVALID_NAME, std::move(*problem));
  }

  // No destination means the current directory, not the root that a lone
  // "\" in front of the name would make of it.
  if (destDir.empty()) return part;
  plat::WString target(destDir);
  while (!target.empty() && plat::IsPathSeparator(target.back())) target.pop_back();
  target += u'\\';
  target += part;
  return target;
}
