// Win32 system calls: the kind of drive a path is on.
#include "platform/win32/windows_api.h"

#include "platform/file_system.h"

namespace plat {

using win32::Wide;

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

}  // namespace plat
