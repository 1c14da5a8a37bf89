// Raw file handles for the framework's CFile. Every failure sets the last
// error (Win32 numbering) and returns the failure value.
#pragma once
#include <cstdint>
#include "platform/win_types.h"

namespace plat {

using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

enum class FileAccess { Read, Write, ReadWrite };
enum class FileShare { DenyNone, DenyRead, DenyWrite, Exclusive };
enum class FileCreate {
  OpenExisting,   // fail when the file does not exist
  CreateAlways,   // create or truncate
  OpenAlways,     // open, create when missing
  CreateNew,      // fail when the file exists (ERROR_FILE_EXISTS)
};
enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

// Resolves the path case-insensitively. Sharing modes are advisory on POSIX
// and not enforced.
FileHandle OpenFileHandle(WStringView path, FileAccess access, FileShare share,
                          FileCreate create);
// Bytes read, 0 at end of file, -1 on failure.
int64_t ReadFileHandle(FileHandle h, void* buffer, uint32_t count);
// Bytes written (all of them), -1 on failure (ERROR_DISK_FULL when full).
int64_t WriteFileHandle(FileHandle h, const void* buffer, uint32_t count);
// New position, -1 on failure (ERROR_NEGATIVE_SEEK as ERROR_SEEK).
int64_t SeekFileHandle(FileHandle h, int64_t offset, SeekOrigin origin);
int64_t GetFileHandleSize(FileHandle h);
bool FlushFileHandle(FileHandle h);
// The times of an open file (opened for writing); a null pointer leaves that
// time unchanged. POSIX has no creation time and ignores it.
bool SetFileHandleTimes(FileHandle h, const CalendarTime* creation, const CalendarTime* lastAccess,
                        const CalendarTime* lastWrite);
// The attributes of an open file (opened for writing), as SetFileAttributes
// gives them to a named one: READONLY, HIDDEN, SYSTEM, ARCHIVE and the other
// attributes a file may be given; none of them is NORMAL. POSIX keeps only
// READONLY, as the file's write permission.
bool SetFileHandleAttributes(FileHandle h, uint32_t attributes);
bool CloseFileHandle(FileHandle h);
// Whether closing a file just written may take long here (a scanner on
// Windows inspects each file as it is closed), so that a writer of many
// files gains by closing them on other threads.
bool ClosingWrittenFilesIsSlow();

}  // namespace plat
