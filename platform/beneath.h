// Creating below a directory that the caller chose (a destination that
// others may be able to write into) without ever passing through a link
// below it: each component is opened relative to the one above it, never
// following a symbolic link or junction, and missing directories are made
// in the directory just opened. The base itself, and the path above it, are
// the caller's choice and are followed as given.
#pragma once
#include <memory>
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

// What one writer of many files below one base keeps from file to file:
// the directory its last walk ended in, still open, so that the next file
// of that directory is made without walking again (on POSIX; the Windows
// walk keeps nothing). Only ever the directory that a walk reached without
// passing through a link; one moved away meanwhile is still the one written
// into, as it would be in the middle of a walk, and one removed is walked
// to afresh. Kept by one thread for one run of files (an extraction), never
// longer: a base removed and made again would not be noticed.
class BeneathCursor {
 public:
  BeneathCursor();
  ~BeneathCursor();
  BeneathCursor(const BeneathCursor&) = delete;
  BeneathCursor& operator=(const BeneathCursor&) = delete;
  struct State;

 private:
  friend FileHandle CreateFileBeneath(WStringView, WStringView, BeneathCursor*);
  std::unique_ptr<State> m_state;
};

// A new file at base\relative, open for writing (sharing as DenyWrite), its
// directories made as by CreateDirectoriesBeneath. A file or link already
// at the name is removed first (a link itself, never what it points to); a
// directory there fails with ERROR_ACCESS_DENIED, and a name that appears
// between the removal and the creation with ERROR_FILE_EXISTS. With a
// cursor, the walk starts where the cursor's last one ended when the
// directory is the same.
FileHandle CreateFileBeneath(WStringView base, WStringView relative,
                             BeneathCursor* cursor = nullptr);

}  // namespace plat
