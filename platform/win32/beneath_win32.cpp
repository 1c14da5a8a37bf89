// Win32 system calls: the walk below a chosen directory. Each directory
// below the base is opened without following a reparse point and held open
// without delete sharing until the file is made, so that none of them can
// be renamed away or replaced by a junction or symbolic link meanwhile.
#include "platform/win32/windows_api.h"

#include <memory>
#include <vector>

#include "platform/beneath.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/native_path.h"

namespace plat {
namespace {

using win32::ScopedHandle;
using win32::SystemPath;

bool SplitComponents(WStringView relative, std::vector<WString>* out) {
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = start;
    while (end < relative.size() && !IsPathSeparator(relative[end])) ++end;
    const WStringView component = relative.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == u".") continue;
    if (component == u"..") return false;
    out->emplace_back(component);
  }
  return true;
}

// The directories passed so far, each held open.
using Held = std::vector<std::unique_ptr<ScopedHandle>>;

// Opens one directory below the base (made when missing) and checks that it
// is a directory and no reparse point.
bool StepDown(const WString& path, Held& held) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    HANDLE h = ::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      auto handle = std::make_unique<ScopedHandle>(h);
      BY_HANDLE_FILE_INFORMATION info{};
      if (!::GetFileInformationByHandle(h, &info)) return false;
      if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        ::SetLastError(ERROR_STOPPED_ON_SYMLINK);
        return false;
      }
      if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
      }
      held.push_back(std::move(handle));
      return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return false;
    if (!::CreateDirectoryW(SystemPath(path).c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  ::SetLastError(ERROR_PATH_NOT_FOUND);
  return false;
}

// Walks through the first `count` components; path ends as the last one.
bool Walk(WStringView base, const std::vector<WString>& components, size_t count, WString& path,
          Held& held) {
  // Full, so that a long path can be given in the extended form.
  path = GetFullPathName(base.empty() ? WStringView(u".") : base);
  while (path.size() > 1 && IsPathSeparator(path.back())) path.pop_back();
  for (size_t i = 0; i < count; ++i) {
    path += u'\\';
    path += components[i];
    if (!StepDown(path, held)) return false;
  }
  return true;
}

}  // namespace

bool CreateDirectoriesBeneath(WStringView base, WStringView relative) {
  std::vector<WString> components;
  if (!SplitComponents(relative, &components)) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  WString path;
  Held held;
  return Walk(base, components, components.size(), path, held);
}

// The Windows walk holds every directory on the way open for its own
// duration only: nothing is kept between files.
struct BeneathCursor::State {};
BeneathCursor::BeneathCursor() = default;
BeneathCursor::~BeneathCursor() = default;

FileHandle CreateFileBeneath(WStringView base, WStringView relative, BeneathCursor* /*cursor*/) {
  std::vector<WString> components;
  if (!SplitComponents(relative, &components) || components.empty()) {
    ::SetLastError(ERROR_INVALID_NAME);
    return kInvalidFile;
  }
  WString path;
  Held held;
  if (!Walk(base, components, components.size() - 1, path, held)) return kInvalidFile;
  path += u'\\';
  path += components.back();
  const std::wstring wide = SystemPath(path);

  // Whatever stands at the name goes first: a link or junction itself (its
  // target untouched), a file even when read-only; a directory stays.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (!(directory ? ::RemoveDirectoryW(wide.c_str()) : ::DeleteFileW(wide.c_str())))
        return kInvalidFile;
    } else if (directory) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return kInvalidFile;
    } else {
      if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!::DeleteFileW(wide.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) return kInvalidFile;
    }
  }
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kInvalidFile;
  return reinterpret_cast<FileHandle>(h);
}

}  // namespace plat
