// Creating below a directory that the caller chose (a destination that
// others may be able to write into) without ever passing through a link
// below it: each component is opened relative to the one above it, never
// following a symbolic link or junction, and missing directories are made
// in the directory just opened. The base itself, and the path above it, are
// the caller's choice and are followed as given.
#pragma once
#include "platform/file_handle.h"
#include "platform/win_types.h"

namespace plat {

// relative: components separated by "\" or "/"; empty components and "."
// are skipped, ".." is refused (ERROR_INVALID_NAME). A component below base
// that is a link fails the call with ERROR_STOPPED_ON_SYMLINK; so does a
// case-insensitive match that is another user's (the name is then missing
// for us, and the creation fails on it).

// Makes every directory of relative below base that is missing.
bool CreateDirectoriesBeneath(WStringView base, WStringView relative);

// A new file at base\relative, open for writing (sharing as DenyWrite), its
// directories made as by CreateDirectoriesBeneath. A file or link already
// at the name is removed first (a link itself, never what it points to); a
// directory there fails with ERROR_ACCESS_DENIED, and a name that appears
// between the removal and the creation with ERROR_FILE_EXISTS.
FileHandle CreateFileBeneath(WStringView base, WStringView relative);

}  // namespace plat
