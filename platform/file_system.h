// File-system services with Win32 semantics. Paths are Windows-form wide
// strings; each call resolves them case-insensitively and sets the last
// error on failure.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>
#include "platform/win_types.h"

namespace plat {

bool PathFileExists(WStringView path);
// INVALID_FILE_ATTRIBUTES when the path does not exist. On POSIX:
// DIRECTORY for directories, READONLY when no write bit is set, NORMAL for a
// plain writable file.
uint32_t GetFileAttributes(WStringView path);
// Only READONLY has an effect on POSIX (it clears or restores the write
// bits); every other bit is accepted and ignored. Fails when the path does
// not exist.
bool SetFileAttributes(WStringView path, uint32_t attributes);
bool DeleteFile(WStringView path);  // files and links, never directories
bool CreateDirectory(WStringView path);  // ERROR_ALREADY_EXISTS when present
// Creates a directory that only the current user can use (0700 on POSIX);
// fails when anything of that name exists, including a link.
bool CreatePrivateDirectory(WStringView path);
bool RemoveDirectory(WStringView path);  // empty directories only
bool CopyFile(WStringView from, WStringView to, bool failIfExists);
// Delete-at-restart is not supported on POSIX: false, ERROR_NOT_SUPPORTED.
bool MoveFileDelayUntilReboot(WStringView path);

// Sets creation, last-access and last-write time; a null pointer leaves that
// time unchanged. POSIX has no creation time and ignores it.
bool SetFileTimes(WStringView path, const CalendarTime* creation,
                  const CalendarTime* lastAccess, const CalendarTime* lastWrite);

// What a file search finds for one exact name (no wildcards), as a directory
// listing would: the last component matched without regard to case.
struct FoundFile {
  WString name;  // the name as the directory holds it
  uint32_t attributes = 0;
  uint64_t size = 0;
  CalendarTime lastWrite = 0;
};
std::optional<FoundFile> FindFile(WStringView path);
// Names in a directory, without "." and "..", in the directory's order;
// empty with the last error set when it cannot be read.
std::vector<WString> ListDirectoryNames(WStringView directory);

// GetFullPathName: the full Windows-form path of a name, "." and ".."
// folded, relative names taken from the current directory.
WString GetFullPathName(WStringView name);
// The folding itself, for systems without drives (POSIX).
WString FoldFullPath(WStringView name, const std::optional<WString>& currentDirectory);

// Current directory as a Windows-form path (no trailing separator unless it
// is the root).
std::optional<WString> GetCurrentDirectory();
bool SetCurrentDirectory(WStringView path);

// GetDriveType. On POSIX there are no drives: the root "" or "\" is fixed.
uint32_t GetDriveType(WStringView root);
// Whether the block device that holds the path is removable (sysfs on Linux).
bool IsOnRemovableMedia(WStringView path);

// The system temporary path with a trailing separator: $TMPDIR when set and
// not empty, else \tmp\ on POSIX. Empty (ERROR_NO_UNICODE_TRANSLATION) when
// the path cannot be carried unchanged: not valid UTF-8, or holding a
// backslash, which the core would take for a separator.
WString GetTempPath();
// Where a run's private directory goes: on Windows where the system has
// GetTempPath2W its path (for SYSTEM a directory other users cannot write),
// else GetTempPath's. The log stays in GetTempPath's, where tools look.
WString GetRunTempPath();
// Full path of the running executable, or of the module that holds the
// address when one is given.
WString GetModuleFileName(const void* addressInModule = nullptr);

// Lets a file be run by everyone who may read it (the execute bits beside
// the read bits on POSIX). Windows needs nothing: there it only reports
// whether the file exists.
bool SetExecutable(WStringView path);

}  // namespace plat
