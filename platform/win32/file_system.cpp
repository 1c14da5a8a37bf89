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

bool HasWildcard(WStringView path) { return path.find_first_of(u"*?") != WStringView::npos; }

// A path without its trailing separators (but "C:\" stays a root).
std::wstring WithoutTrailingSeparator(WStringView path) {
  std::wstring p = SystemPath(path);
  while (p.size() > 1 && (p.back() == L'\\' || p.back() == L'/') && p[p.size() - 2] != L':') {
    p.pop_back();
  }
  return p;
}

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

bool SetFileTimes(WStringView path, const CalendarTime* creation, const CalendarTime* lastAccess,
                  const CalendarTime* lastWrite) {
  win32::ScopedHandle file(::CreateFileW(
      SystemPath(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) return false;
  FILETIME c{}, a{}, w{};
  if (creation) c = win32::ToFileTime(*creation);
  if (lastAccess) a = win32::ToFileTime(*lastAccess);
  if (lastWrite) w = win32::ToFileTime(*lastWrite);
  return ::SetFileTime(file.get(), creation ? &c : nullptr, lastAccess ? &a : nullptr,
                       lastWrite ? &w : nullptr) != FALSE;
}

std::optional<FoundFile> FindFile(WStringView path) {
  if (path.empty() || HasWildcard(path)) {
    SetLastError(path.empty() ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME);
    return std::nullopt;
  }
  WIN32_FIND_DATAW data{};
  HANDLE find = ::FindFirstFileW(WithoutTrailingSeparator(path).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return std::nullopt;
  ::FindClose(find);
  FoundFile found;
  found.name = FromWide(data.cFileName, wcslen(data.cFileName));
  found.attributes = data.dwFileAttributes;
  found.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  found.lastWrite = win32::FromFileTime(data.ftLastWriteTime);
  return found;
}

std::vector<WString> ListDirectoryNames(WStringView directory) {
  std::vector<WString> names;
  std::wstring pattern = WithoutTrailingSeparator(directory.empty() ? WStringView(u".") : directory);
  if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data{};
  HANDLE find = ::FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring_view name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(FromWide(data.cFileName, name.size()));
  } while (::FindNextFileW(find, &data));
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  ::SetLastError(error == ERROR_NO_MORE_FILES ? static_cast<DWORD>(ERROR_SUCCESS) : error);
  return names;
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

uint32_t GetDriveType(WStringView root) {
  if (root.empty()) return ::GetDriveTypeW(nullptr);
  return ::GetDriveTypeW(Wide(root).c_str());
}

bool IsOnRemovableMedia(WStringView path) {
  wchar_t volume[MAX_PATH + 1] = {};
  const std::wstring p = path.empty() ? std::wstring(L".") : Wide(path);
  if (!::GetVolumePathNameW(p.c_str(), volume, MAX_PATH)) return false;
  return ::GetDriveTypeW(volume) == DRIVE_REMOVABLE;
}

namespace {

using GetTempPathFn = DWORD(WINAPI*)(DWORD, LPWSTR);

WString TempPathFrom(GetTempPathFn get) {
  wchar_t buffer[MAX_PATH + 2] = {};
  const DWORD n = get(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH + 1) return {};
  WString path = FromWide(buffer, n);
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path;
}

}  // namespace

WString GetTempPath() { return TempPathFrom(&::GetTempPathW); }

WString GetRunTempPath() {
  // GetTempPath2W (Windows 11, and 10 with the 2022 updates) gives SYSTEM
  // its own "C:\Windows\SystemTemp", which other users cannot write; every
  // other caller gets what GetTempPathW gives.
  static const auto get2 = reinterpret_cast<GetTempPathFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
  return TempPathFrom(get2 ? get2 : &::GetTempPathW);
}

WString GetModuleFileName(const void* addressInModule) {
  HMODULE module = nullptr;
  if (addressInModule &&
      !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(addressInModule), &module)) {
    module = nullptr;
  }
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return FromWide(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace plat
