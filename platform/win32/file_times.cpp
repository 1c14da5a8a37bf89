// Win32 system calls: the times of a file named by its path.
#include "platform/win32/windows_api.h"

#include "platform/file_system.h"

namespace plat {

using win32::SystemPath;

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

}  // namespace plat
