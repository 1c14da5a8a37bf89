// Win32 system calls: the directory entry of one name, as FindFirstFileW
// gives it.
#include "platform/win32/windows_api.h"

#include <cwchar>

#include "platform/file_system.h"
#include "platform/last_error.h"

namespace plat {
namespace {

using win32::FromWide;
using win32::WithoutTrailingSeparator;

bool HasWildcard(WStringView path) { return path.find_first_of(u"*?") != WStringView::npos; }

}  // namespace

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

}  // namespace plat
