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

// Whether the path names, by itself and not through a link, a directory of
// the current user that no one else may use (0700 on POSIX).
bool IsPrivateDirectory(WStringView path);

// Marks a directory as in use for as long as a process of the run lives: an
// advisory lock on a file inside it on POSIX, inherited by the programs the
// run starts, so a setup program that outlives its Setup keeps the directory
// from every sweep. Windows needs no mark (the loaded libraries and the
// running program keep the directory), so there the lock holds nothing but
// the directory's identity.
class DirectoryLock {
 public:
  DirectoryLock();
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  // Creates the directory, private to the user, already locked: no other
  // process ever sees it under its name unlocked, so no sweep can take it
  // for a leftover. False (ERROR_ALREADY_EXISTS) when anything of that name
  // exists, or when the lock cannot be had.
  bool CreateLocked(WStringView directory);
  // Locks an existing directory; false (ERROR_SHARING_VIOLATION) while
  // another holds it.
  bool Acquire(WStringView directory);
  // Drops this process's hold; programs that inherited the lock keep it.
  void Release();
  bool IsHeld() const;
  // Whether the path still names the directory that was locked (also after
  // Release): once it is gone, another run's new directory may stand under
  // the same name, and nothing in it is ours.
  bool Names(WStringView path) const;

 private:
  struct State;  // what the system keeps for the mark and the identity
  std::unique_ptr<State> m_state;
};

// Name of the lock file that DirectoryLock keeps inside the directory.
inline constexpr char16_t kDirectoryLockName[] = u".upk-inuse";

}  // namespace plat
