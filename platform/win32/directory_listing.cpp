// Win32 system calls: the names in a directory.
#include "platform/win32/windows_api.h"

#include <vector>

#include "platform/file_system.h"

namespace plat {

using win32::FromWide;
using win32::WithoutTrailingSeparator;

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

}  // namespace plat
