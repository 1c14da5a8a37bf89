// Win32 system calls: libraries loaded by full path, never searched for.
#include "platform/win32/windows_api.h"

#include "platform/last_error.h"
#include "platform/image_check.h"
#include "platform/library.h"

namespace plat {
namespace {

bool IsFullPath(WStringView path) {
  return (path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/')) ||
         (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\');
}

}  // namespace

LibraryHandle LoadLibrary(WStringView path) {
  // A bare name would be searched for, the current directory and the
  // package's folder included: only full paths are loaded.
  if (!IsFullPath(path)) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // An image cut short (a damaged package) is refused before the loader
  // maps it.
  if (!IsWholeImageFile(path)) {
    ::SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  // The library's own imports are looked for beside it and in the system
  // directory, not beside the program that was started.
  HMODULE module = ::LoadLibraryExW(win32::Wide(path).c_str(), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH);
  return reinterpret_cast<LibraryHandle>(module);
}

LibraryHandle LoadSystemLibrary(const char* name) {
  if (name == nullptr || *name == '\0') {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // Only from the system directory, whatever the search order says.
  HMODULE module = ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return reinterpret_cast<LibraryHandle>(module);
}

void* GetProcAddress(LibraryHandle library, const char* name) {
  if (!library || !name) {
    ::SetLastError(library ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

bool FreeLibrary(LibraryHandle library) {
  if (!library) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return ::FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
}

// Windows has no mount option that forbids running what a volume holds.
bool IsOnNoExecFileSystem(WStringView /*path*/) { return false; }

bool RestrictLibrarySearchPath() {
  // Where the system has it (Windows 8, or 7 with KB2533623), every later
  // load searches only the system directory, the application's directory
  // and the current directory leave the order for good.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                 ::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return ::SetDllDirectoryW(L"") != FALSE;
}

}  // namespace plat
