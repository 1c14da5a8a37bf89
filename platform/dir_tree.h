// Directory-tree services for the bootstrapper's private temporary directory.
#pragma once
#include <cstdint>
#include <memory>
#include "platform/win_types.h"

namespace plat {

// Deletes a directory with its contents. Symbolic links (and junctions) are
// deleted, never followed; nothing outside the tree is ever reached, whatever
// its depth or the current directory. A directory whose in-use lock is held
// by a live process is refused (ERROR_SHARING_VIOLATION) and left whole. On
// Windows only a directory that the current user owns is removed, first
// renamed to a tombstone beside it (which the system refuses while anything
// inside is open), then by handles. Returns true when the path no longer
// exists.
bool DeleteTree(WStringView path);

// Whether the directory itself (not what a link there leads to) belongs to
// the current user: its owner is the user (on Windows the token's user, not
// a group such as Administrators).
bool IsOwnedByCurrentUser(WStringView path);

// Whether the path names, by itself and not through a link, a directory of
// the current user that no one else may use (0700 on POSIX).
bool IsPrivateDirectory(WStringView path);

// Marks a directory as in use for as long as a process of the run lives: an
// advisory lock on a file inside it on POSIX, inherited by the programs the
// run starts, so a setup program that outlives its Setup keeps the directory
// from every sweep. On Windows the directory is made with its own protected
// access list (the user, SYSTEM and Administrators only) and held open
// without sharing its deletion; the loaded libraries and the running program
// keep it once that hold is released.
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
  // Whether the directory lies where the system keeps no access lists (a FAT
  // volume on Windows), so its privacy could not be made.
  bool IsUnprotected() const;
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
