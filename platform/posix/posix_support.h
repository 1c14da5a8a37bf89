// Helpers shared by the POSIX backend files; not part of the platform
// interface.
#pragma once
#include <cstdint>
#include <sys/stat.h>
#include <string>
#include <vector>
#include "platform/posix/errno_map.h"
#include "platform/posix/resolve_path.h"
#include "platform/win_types.h"

namespace plat::posix {

// Sets the last error for a failed call on a native path: a missing name is
// ERROR_FILE_NOT_FOUND when its directory exists, else ERROR_PATH_NOT_FOUND,
// as the Win32 calls report it. Returns the value set.
uint32_t SetLastErrorForPath(int err, const std::string& nativePath);

// The directory part of a native path ("." for a bare name, "/" for the root).
std::string NativeParent(const std::string& nativePath);
// nativePath joined with a child name.
std::string NativeJoin(const std::string& directory, const std::string& name);

// As SetLastErrorForPath, for a resolved path: what the resolution saw of
// the directory spares another look at it.
uint32_t SetLastErrorForResolved(int err, const ResolvedPath& resolved);

// Tells the case-insensitive lookup that this thread has just created the
// file, so that its listing of the directory stays current. parentBefore is
// the directory as it was seen just before the creation (null: unknown, and
// the listing is then read again when next needed).
void NoteFileCreated(const std::string& nativePath, const struct stat* parentBefore);
// Names this thread has read from directory listings so far (for tests).
uint64_t NamesReadFromDirectories();

// No write bit at all: the file counts as read-only, as on Windows.
inline bool IsReadOnlyMode(mode_t mode) { return (mode & 0222) == 0; }

// Runs a program (argv[0] is its native path) with the current environment
// and waits. Returns the errno of a failed start, 0 when it ran; the exit
// code is WEXITSTATUS or 128 + signal.
int SpawnAndWait(const std::string& program, const std::vector<std::string>& args,
                 uint32_t* exitCode);

}  // namespace plat::posix
