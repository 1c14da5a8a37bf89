// Loading shared libraries by full path and binding entry points by name.
#pragma once
#include "platform/win_types.h"

namespace plat {

using LibraryHandle = void*;

// LoadLibrary by full path (dlopen on POSIX, resolved case-insensitively);
// null and the last error set on failure (ERROR_MOD_NOT_FOUND when the file
// is missing, ERROR_ACCESS_DENIED when its file system forbids mapping it
// executable, ERROR_BAD_EXE_FORMAT when it is not a loadable library).
LibraryHandle LoadLibrary(WStringView path);
// A library of the system by its bare name (a soname, a DLL of the system
// directory), found where the system's own loader would find a dependency:
// never in the current directory. Null and the last error set on failure.
LibraryHandle LoadSystemLibrary(const char* name);
// True when the file system that holds path refuses to map files executable
// (mounted noexec on POSIX), so that no library there can ever be loaded.
bool IsOnNoExecFileSystem(WStringView path);
// GetProcAddress; null and ERROR_PROC_NOT_FOUND when absent.
void* GetProcAddress(LibraryHandle library, const char* name);
bool FreeLibrary(LibraryHandle library);

// Takes the current directory out of the library search order
// (SetDllDirectoryW("") on Windows). POSIX never searches the current
// directory for libraries loaded by full path: reports false.
bool RestrictLibrarySearchPath();

}  // namespace plat
