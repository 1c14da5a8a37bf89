// Directory-tree services for the bootstrapper's private temporary directory.
#pragma once
#include <cstdint>
#include <memory>
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

// Marks a directory as in use by this process for as long as the lock
// lives: an advisory lock on a file inside it on POSIX. Windows needs no
// mark (the loaded libraries and the running program keep the directory),
// so there the lock holds nothing.
class DirectoryLock {
 public:
  DirectoryLock();
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  bool Acquire(WStringView directory);
  void Release();
  bool IsHeld() const { return m_state != nullptr; }

 private:
  struct State;  // what the system keeps for the mark
  std::unique_ptr<State> m_state;
};

// Name of the lock file that DirectoryLock keeps inside the directory.
inline constexpr char16_t kDirectoryLockName[] = u".upk-inuse";

}  // namespace plat
