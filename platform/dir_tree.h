// Directory-tree services for the bootstrapper's private temporary directory.
#pragma once
#include <cstdint>
#include "platform/win_types.h"

namespace plat {

// Deletes a directory with its contents (SHFileOperation FO_DELETE, silent).
// Symbolic links are deleted, never followed. On POSIX a directory whose
// in-use lock is held by a live process is refused (ERROR_SHARING_VIOLATION)
// and left whole. Returns true when the path no longer exists.
bool DeleteTree(WStringView path);

// Whether the directory belongs to the current user (POSIX owner check; true
// on Windows).
bool IsOwnedByCurrentUser(WStringView path);

// Marks a directory as in use by this process for as long as the returned
// lock lives (an advisory lock on a file inside it on POSIX).
class DirectoryLock {
 public:
  DirectoryLock() = default;
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  bool Acquire(WStringView directory);
  void Release();
  bool IsHeld() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

// Name of the lock file that DirectoryLock keeps inside the directory.
inline constexpr char16_t kDirectoryLockName[] = u".upk-inuse";

}  // namespace plat
