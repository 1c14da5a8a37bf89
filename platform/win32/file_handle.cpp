// Win32 system calls: file handles are the system's, with its sharing modes.
#include "platform/win32/windows_api.h"

#include "platform/file_handle.h"
#include "platform/last_error.h"

namespace plat {
namespace {

HANDLE AsHandle(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

// Removes what stands under the name (a file, or a link as itself) so that a
// new file can be made there. A directory or a read-only file refuses, as
// CREATE_ALWAYS refuses them.
bool RemoveForReplacement(const std::wstring& native, bool* existed) {
  *existed = false;
  win32::ScopedHandle old(::CreateFileW(
      native.c_str(), DELETE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!old.valid()) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;  // nothing there
  }
  *existed = true;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(old.get(), &info)) return false;
  const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!link && (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return win32::MarkForDeletion(old.get());
}

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
  const std::wstring native = win32::SystemPath(path);
  bool replaced = false;
  if (create == FileCreate::CreateAlways) {
    // A file or link at the name is replaced by a new file, never opened:
    // in a directory others could write, a file they planted (with an
    // access list of theirs) is not ours to fill, and a link's target stays
    // untouched. A name that reappears before the creation fails it.
    if (!RemoveForReplacement(native, &replaced)) return kInvalidFile;
    disposition = CREATE_NEW;
  }
  HANDLE h = ::CreateFileW(native.c_str(), desired, shareMode, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kInvalidFile;
  // As CREATE_ALWAYS reports a file that was there.
  if (replaced) ::SetLastError(ERROR_ALREADY_EXISTS);
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

bool SetFileHandleAttributes(FileHandle h, uint32_t attributes) {
  // What SetFileAttributes lets a caller set; zero times leave the times.
  constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                              FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                              FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  FILE_BASIC_INFO info{};
  info.FileAttributes = attributes & kSettable;
  // Zero would leave the attributes as they are: NORMAL clears them.
  if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return ::SetFileInformationByHandle(AsHandle(h), FileBasicInfo, &info, sizeof info) != FALSE;
}

// Real-time scanners inspect each written file as it is closed.
bool ClosingWrittenFilesIsSlow() { return true; }

bool CloseFileHandle(FileHandle h) {
  if (h == kInvalidFile || h == 0) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return ::CloseHandle(AsHandle(h)) != FALSE;
}

}  // namespace plat
