// Win32 system calls: file handles are the system's, with its sharing modes.
#include "platform/win32/windows_api.h"

#include "platform/file_handle.h"
#include "platform/last_error.h"

namespace plat {
namespace {

HANDLE AsHandle(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

FileHandle OpenFileHandle(WStringView path, FileAccess access, FileShare share,
                          FileCreate create) {
  DWORD desired = 0;
  switch (access) {
    case FileAccess::Read: desired = GENERIC_READ; break;
    case FileAccess::Write: desired = GENERIC_WRITE; break;
    case FileAccess::ReadWrite: desired = GENERIC_READ | GENERIC_WRITE; break;
  }
  DWORD shareMode = 0;
  switch (share) {
    case FileShare::DenyNone: shareMode = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    case FileShare::DenyRead: shareMode = FILE_SHARE_WRITE; break;
    case FileShare::DenyWrite: shareMode = FILE_SHARE_READ; break;
    case FileShare::Exclusive: shareMode = 0; break;
  }
  DWORD disposition = OPEN_EXISTING;
  switch (create) {
    case FileCreate::OpenExisting: disposition = OPEN_EXISTING; break;
    case FileCreate::CreateAlways: disposition = CREATE_ALWAYS; break;
    case FileCreate::OpenAlways: disposition = OPEN_ALWAYS; break;
    case FileCreate::CreateNew: disposition = CREATE_NEW; break;
  }
  HANDLE h = ::CreateFileW(win32::Wide(path).c_str(), desired, shareMode, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kInvalidFile;
  return reinterpret_cast<FileHandle>(h);
}

int64_t ReadFileHandle(FileHandle h, void* buffer, uint32_t count) {
  auto* out = static_cast<char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    DWORD n = 0;
    if (!::ReadFile(AsHandle(h), out + total, count - total, &n, nullptr)) {
      if (::GetLastError() == ERROR_HANDLE_EOF || ::GetLastError() == ERROR_BROKEN_PIPE) break;
      return -1;
    }
    if (n == 0) break;
    total += n;
  }
  return total;
}

int64_t WriteFileHandle(FileHandle h, const void* buffer, uint32_t count) {
  const auto* in = static_cast<const char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    DWORD n = 0;
    if (!::WriteFile(AsHandle(h), in + total, count - total, &n, nullptr)) return -1;
    if (n == 0) {
      ::SetLastError(ERROR_DISK_FULL);
      return -1;
    }
    total += n;
  }
  return total;
}

int64_t SeekFileHandle(FileHandle h, int64_t offset, SeekOrigin origin) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER position{};
  const DWORD method = origin == SeekOrigin::Begin     ? FILE_BEGIN
                       : origin == SeekOrigin::Current ? FILE_CURRENT
                                                       : FILE_END;
  if (!::SetFilePointerEx(AsHandle(h), distance, &position, method)) {
    // A position before the start is reported as a seek error, as on POSIX.
    if (::GetLastError() != ERROR_INVALID_HANDLE) ::SetLastError(ERROR_SEEK);
    return -1;
  }
  return position.QuadPart;
}

int64_t GetFileHandleSize(FileHandle h) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(AsHandle(h), &size)) return -1;
  return size.QuadPart;
}

bool FlushFileHandle(FileHandle h) {
  if (::FlushFileBuffers(AsHandle(h))) return true;
  // Consoles and pipes cannot be flushed; nothing is lost there.
  return ::GetFileType(AsHandle(h)) != FILE_TYPE_DISK;
}

bool SetFileHandleTimes(FileHandle h, const CalendarTime* creation, const CalendarTime* lastAccess,
                        const CalendarTime* lastWrite) {
  FILETIME c{}, a{}, w{};
  if (creation) c = win32::ToFileTime(*creation);
  if (lastAccess) a = win32::ToFileTime(*lastAccess);
  if (lastWrite) w = win32::ToFileTime(*lastWrite);
  return ::SetFileTime(AsHandle(h), creation ? &c : nullptr,
                       lastAccess ? &a : nullptr, lastWrite ? &w : nullptr) != FALSE;
}

bool CloseFileHandle(FileHandle h) {
  if (h == kInvalidFile || h == 0) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return ::CloseHandle(AsHandle(h)) != FALSE;
}

}  // namespace plat
