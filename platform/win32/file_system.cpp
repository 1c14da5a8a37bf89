// Win32 system calls: the file-system services are the system's own. Names
// compare without regard to case there, so no resolver is needed.
#include "platform/win32/windows_api.h"

#include <vector>

#include "platform/file_system.h"
#include "platform/last_error.h"

namespace plat {
namespace {

using win32::FromWide;
using win32::SystemPath;
using win32::Wide;

}  // namespace

bool PathFileExists(WStringView path) {
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  return ::GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint32_t GetFileAttributes(WStringView path) { return ::GetFileAttributesW(SystemPath(path).c_str()); }

bool SetFileAttributes(WStringView path, uint32_t attributes) {
  return ::SetFileAttributesW(SystemPath(path).c_str(), attributes) != FALSE;
}

bool DeleteFile(WStringView path) { return ::DeleteFileW(SystemPath(path).c_str()) != FALSE; }

bool CreateDirectory(WStringView path) {
  return ::CreateDirectoryW(SystemPath(path).c_str(), nullptr) != FALSE;
}

bool CreatePrivateDirectory(WStringView path) {
  // Fails on anything already there, a junction or link included; the new
  // directory inherits the user's own temporary directory's protection.
  const std::wstring p = SystemPath(path);
  if (!::CreateDirectoryW(p.c_str(), nullptr)) return false;
  const DWORD attributes = ::GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

bool RemoveDirectory(WStringView path) {
  return ::RemoveDirectoryW(SystemPath(path).c_str()) != FALSE;
}

bool CopyFile(WStringView from, WStringView to, bool failIfExists) {
  return ::CopyFileW(SystemPath(from).c_str(), SystemPath(to).c_str(), failIfExists ? TRUE : FALSE) != FALSE;
}

bool MoveFileDelayUntilReboot(WStringView path) {
  return ::MoveFileExW(SystemPath(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

WString GetFullPathName(WStringView name) {
  const std::wstring in = Wide(name);
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetFullPathNameW(in.c_str(), static_cast<DWORD>(buffer.size()),
                                       buffer.data(), nullptr);
    if (n == 0) return WString(name);
    if (n < buffer.size()) return FromWide(buffer.data(), n);
    buffer.resize(n + 1);
  }
}

std::optional<WString> GetCurrentDirectory() {
  const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return std::nullopt;
  std::wstring buffer(needed, L'\0');
  const DWORD n = ::GetCurrentDirectoryW(needed, buffer.data());
  if (n == 0 || n >= needed) return std::nullopt;
  return FromWide(buffer.data(), n);
}

bool SetCurrentDirectory(WStringView path) {
  return ::SetCurrentDirectoryW(Wide(path).c_str()) != FALSE;
}

}  // namespace plat
