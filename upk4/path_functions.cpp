#include "upk4/path_functions.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/native_path.h"

PathParts SplitPath(plat::WStringView path) {
  PathParts parts;
  if (path.size() >= 2 && path[1] == u':') {
    parts.drive = plat::WString(path.substr(0, 2));
    path.remove_prefix(2);
  }
  size_t lastSeparator = plat::WStringView::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (plat::IsPathSeparator(path[i])) lastSeparator = i;
  }
  if (lastSeparator != plat::WStringView::npos) {
    parts.directory = plat::WString(path.substr(0, lastSeparator + 1));
    path.remove_prefix(lastSeparator + 1);
  }
  size_t dot = path.rfind(u'.');
  if (dot != plat::WStringView::npos) {
    parts.extension = plat::WString(path.substr(dot));
    path = path.substr(0, dot);
  }
  parts.name = plat::WString(path);
  return parts;
}

plat::WString GetDirectoryPart(plat::WStringView path) {
  PathParts parts = SplitPath(path);
  return parts.drive + parts.directory;
}

plat::WString GetPathWithoutDrive(plat::WStringView path) {
  PathParts parts = SplitPath(path);
  size_t start = 0;
  while (start < parts.directory.size() && plat::IsPathSeparator(parts.directory[start])) ++start;
  return parts.directory.substr(start) + parts.name + parts.extension;
}

plat::WString GetFileNamePart(plat::WStringView path) {
  PathParts parts = SplitPath(path);
  return parts.name + parts.extension;
}

plat::WString GetDrivePart(plat::WStringView path) { return SplitPath(path).drive; }

bool IsRemovableDrive(plat::WStringView path) {
  plat::WString drive = GetDrivePart(path);
  // Without drive letters the question is asked of the device that holds
  // the path itself.
  if (drive.empty()) return plat::IsOnRemovableMedia(path);
  return plat::GetDriveType(drive) == plat::DRIVE_REMOVABLE;
}

int ProbePath(plat::WStringView path) {
  if (std::optional<plat::FoundFile> found = plat::FindFile(path)) {
    return (found->attributes & plat::FILE_ATTRIBUTE_DIRECTORY) ? -1 : 1;
  }
  // Roots and drives are not found by a search.
  return IsDirectoryByChdir(path) ? -1 : 0;
}

bool IsDirectoryByChdir(plat::WStringView path) {
  std::optional<plat::WString> previous = plat::GetCurrentDirectory();
  if (!previous) return false;
  if (!plat::SetCurrentDirectory(path)) return false;
  plat::SetCurrentDirectory(*previous);
  return true;
}

bool CreateDirectoryTree(plat::WStringView path) {
  plat::WString copy(path);
  while (!copy.empty() && copy.back() == u'\\') copy.pop_back();
  if (GetDirectoryPart(copy) == copy || ProbePath(copy) == -1) return true;
  if (!CreateDirectoryTree(GetDirectoryPart(copy))) return false;
  return plat::CreateDirectory(copy);
}

plat::WString ToWide(std::string_view ansi) { return plat::AnsiToWide(ansi); }
