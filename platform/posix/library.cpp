// POSIX system calls: shared libraries by full path through dlopen.
#include "platform/library.h"

#include <dlfcn.h>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "platform/image_check.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/resolve_path.h"

namespace plat {

LibraryHandle LoadLibrary(WStringView path) {
  std::string native = ResolveNativePath(path);
  struct stat st{};
  if (native.empty() || ::stat(native.c_str(), &st) != 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // An image cut short would be mapped past its end and end the process
  // with a bus error inside the loader.
  if (!IsWholeImageFile(path)) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  // dlopen takes a name without "/" as a search; ours are always paths.
  if (native.find('/') == std::string::npos) native = "./" + native;
  void* handle = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const bool loadable = S_ISREG(st.st_mode) && !IsOnNoExecFileSystem(path);
    SetLastError(loadable ? ERROR_BAD_EXE_FORMAT : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return handle;
}

LibraryHandle LoadSystemLibrary(const char* name) {
  // A name with a "/" would be a path, relative to the current directory.
  if (name == nullptr || *name == '\0' || std::strchr(name, '/') != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!handle) SetLastError(ERROR_MOD_NOT_FOUND);
  return handle;
}

bool IsOnNoExecFileSystem(WStringView path) {
  const std::string native = ResolveNativePath(path);
  struct statvfs fs{};
  return !native.empty() && ::statvfs(native.c_str(), &fs) == 0 && (fs.f_flag & ST_NOEXEC) != 0;
}

void* GetProcAddress(LibraryHandle library, const char* name) {
  if (!library || !name) {
    SetLastError(library ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ::dlerror();
  void* symbol = ::dlsym(library, name);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return symbol;
}

bool FreeLibrary(LibraryHandle library) {
  if (!library || ::dlclose(library) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

bool RestrictLibrarySearchPath() { return false; }

}  // namespace plat
