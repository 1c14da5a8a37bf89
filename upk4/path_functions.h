// Plain functions on Windows-form wide paths.
#pragma once
#include <string_view>
#include "platform/win_types.h"

struct PathParts {
  plat::WString drive;      // letter and colon, or empty
  plat::WString directory;  // with its trailing separator
  plat::WString name;
  plat::WString extension;  // with its dot
};
// Splits as the C runtime's _wsplitpath: drive at most 2 characters, then
// directory, name and extension, each whole: the runtime's cut at 255
// characters would make a shorter name of a long one, so that a deep entry
// landed in a directory of another name; a name too long for the system
// fails where it is used (ERROR_FILENAME_EXCED_RANGE) instead. Both "\"
// and "/" separate.
PathParts SplitPath(plat::WStringView path);

plat::WString GetDirectoryPart(plat::WStringView path);    // drive + directory
plat::WString GetPathWithoutDrive(plat::WStringView path); // directory less leading "\" + name + ext
plat::WString GetFileNamePart(plat::WStringView path);     // name + extension
plat::WString GetDrivePart(plat::WStringView path);
bool IsRemovableDrive(plat::WStringView path);
// -1 existing directory, 1 existing file, 0 otherwise.
int ProbePath(plat::WStringView path);
bool IsDirectoryByChdir(plat::WStringView path);
bool CreateDirectoryTree(plat::WStringView path);
plat::WString ToWide(std::string_view ansi);

