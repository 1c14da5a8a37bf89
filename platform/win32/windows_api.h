// Win32 system calls: the one place that includes <windows.h>. Its macros
// rename Win32-named functions (DeleteFile -> DeleteFileW, ...) and define
// the ERROR_*, FILE_ATTRIBUTE_* and other numbers that the platform headers
// declare themselves; they are undefined here, so that the shared headers
// keep their names and the backend calls the ...W functions by their real
// names. Include this before any platform header.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

// Functions of the platform interface that <windows.h> maps to ...A/...W.
#undef CopyFile
#undef CreateDirectory
#undef DeleteFile
#undef DispatchMessage
#undef GetCurrentDirectory
#undef GetDriveType
#undef GetFileAttributes
#undef GetFullPathName
#undef GetModuleFileName
#undef GetTempPath
#undef LoadLibrary
#undef MessageBox
#undef PathFileExists
#undef PeekMessage
#undef PostMessage
#undef RemoveDirectory
#undef SendMessage
#undef SetCurrentDirectory
#undef SetFileAttributes
#undef WriteProfileString

// Numbers the platform headers declare with the same values.
#undef ERROR_SUCCESS
#undef ERROR_INVALID_FUNCTION
#undef ERROR_FILE_NOT_FOUND
#undef ERROR_PATH_NOT_FOUND
#undef ERROR_TOO_MANY_OPEN_FILES
#undef ERROR_ACCESS_DENIED
#undef ERROR_INVALID_HANDLE
#undef ERROR_NOT_ENOUGH_MEMORY
#undef ERROR_BAD_FORMAT
#undef ERROR_INVALID_DATA
#undef ERROR_OUTOFMEMORY
#undef ERROR_CURRENT_DIRECTORY
#undef ERROR_NOT_SAME_DEVICE
#undef ERROR_NO_MORE_FILES
#undef ERROR_WRITE_PROTECT
#undef ERROR_NOT_READY
#undef ERROR_SEEK
#undef ERROR_WRITE_FAULT
#undef ERROR_READ_FAULT
#undef ERROR_GEN_FAILURE
#undef ERROR_SHARING_VIOLATION
#undef ERROR_LOCK_VIOLATION
#undef ERROR_HANDLE_EOF
#undef ERROR_HANDLE_DISK_FULL
#undef ERROR_NOT_SUPPORTED
#undef ERROR_FILE_EXISTS
#undef ERROR_CANNOT_MAKE
#undef ERROR_INVALID_PARAMETER
#undef ERROR_BROKEN_PIPE
#undef ERROR_OPEN_FAILED
#undef ERROR_BUFFER_OVERFLOW
#undef ERROR_DISK_FULL
#undef ERROR_CALL_NOT_IMPLEMENTED
#undef ERROR_INSUFFICIENT_BUFFER
#undef ERROR_INVALID_NAME
#undef ERROR_MOD_NOT_FOUND
#undef ERROR_PROC_NOT_FOUND
#undef ERROR_WAIT_NO_CHILDREN
#undef ERROR_DIR_NOT_EMPTY
#undef ERROR_BUSY
#undef ERROR_BAD_EXE_FORMAT
#undef ERROR_ALREADY_EXISTS
#undef ERROR_FILENAME_EXCED_RANGE
#undef ERROR_STOPPED_ON_SYMLINK
#undef ERROR_DIRECTORY
#undef ERROR_NO_UNICODE_TRANSLATION
#undef ERROR_NOT_FOUND
#undef ERROR_CANT_RESOLVE_FILENAME
#undef ERROR_PRIVILEGE_NOT_HELD
#undef ERROR_NOT_ALL_ASSIGNED
#undef ERROR_INSTALL_USEREXIT
#undef ERROR_INSTALL_FAILURE
#undef ERROR_SUCCESS_REBOOT_INITIATED
#undef ERROR_SUCCESS_REBOOT_REQUIRED
#undef FILE_ATTRIBUTE_READONLY
#undef FILE_ATTRIBUTE_HIDDEN
#undef FILE_ATTRIBUTE_SYSTEM
#undef FILE_ATTRIBUTE_DIRECTORY
#undef FILE_ATTRIBUTE_ARCHIVE
#undef FILE_ATTRIBUTE_NORMAL
#undef FILE_ATTRIBUTE_TEMPORARY
#undef FILE_ATTRIBUTE_OFFLINE
#undef FILE_ATTRIBUTE_NOT_CONTENT_INDEXED
#undef INVALID_FILE_ATTRIBUTES
#undef DRIVE_UNKNOWN
#undef DRIVE_NO_ROOT_DIR
#undef DRIVE_REMOVABLE
#undef DRIVE_FIXED
#undef IDOK
#undef MB_ICONERROR
#undef RDW_UPDATENOW
#undef RDW_VALIDATE

#include <string>
#include "platform/long_path.h"
#include "platform/win_types.h"

namespace plat::win32 {

// UTF-16 strings of the core as null-terminated wchar_t strings for the
// ...W calls (both are 16-bit units on Windows).
inline std::wstring Wide(WStringView s) { return std::wstring(s.begin(), s.end()); }
inline WString FromWide(const wchar_t* s, size_t length) { return WString(s, s + length); }
inline WString FromWide(const std::wstring& s) { return WString(s.begin(), s.end()); }
// A path for the file calls: in the extended-length form where it is long
// (see long_path.h), so no name is ever cut at MAX_PATH.
inline std::wstring SystemPath(WStringView path) { return Wide(SystemPathForm(path)); }
// A path for the file calls without its trailing separators (but "C:\"
// stays a root).
inline std::wstring WithoutTrailingSeparator(WStringView path) {
  std::wstring p = SystemPath(path);
  while (p.size() > 1 && (p.back() == L'\\' || p.back() == L'/') && p[p.size() - 2] != L':') {
    p.pop_back();
  }
  return p;
}

// FILETIME (100 ns since 1601) and calendar time (s since 1970) apart.
inline constexpr int64_t kFileTimeEpochOffset = 11644473600LL;
inline FILETIME ToFileTime(CalendarTime t) {
  const uint64_t ticks = static_cast<uint64_t>((t + kFileTimeEpochOffset) * 10000000LL);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}
inline CalendarTime FromFileTime(const FILETIME& ft) {
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<CalendarTime>(ticks / 10000000ULL) - kFileTimeEpochOffset;
}

// Marks an open file or empty directory (opened with DELETE access) for
// deletion when its last handle closes: FILE_DISPOSITION_INFO, whose member
// <windows.h> has renamed by its DeleteFile macro.
inline bool MarkForDeletion(HANDLE h) {
  struct {
    BOOLEAN deleteFile;
  } disposition{TRUE};
  static_assert(sizeof disposition == sizeof(FILE_DISPOSITION_INFO));
  return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

// Owns a kernel handle and closes it.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
  ~ScopedHandle() {
    if (valid()) ::CloseHandle(m_h);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return m_h; }
  void reset(HANDLE h) {
    if (valid()) ::CloseHandle(m_h);
    m_h = h;
  }
  bool valid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }

 private:
  HANDLE m_h;
};

}  // namespace plat::win32
