// Win32 system calls: the system's profile-string writer and reader.
#include "platform/win32/windows_api.h"

#include "platform/profile.h"

namespace plat {

bool WriteProfileString(WStringView section, WStringView key, WStringView value,
                        WStringView fileName) {
  return ::WritePrivateProfileStringW(win32::Wide(section).c_str(), win32::Wide(key).c_str(),
                                      win32::Wide(value).c_str(),
                                      win32::Wide(fileName).c_str()) != FALSE;
}

WString ReadProfileString(WStringView section, WStringView key, WStringView defaultValue,
                          WStringView fileName) {
  std::wstring buffer(4096, L'\0');
  for (;;) {
    const DWORD n = ::GetPrivateProfileStringW(
        win32::Wide(section).c_str(), win32::Wide(key).c_str(), win32::Wide(defaultValue).c_str(),
        buffer.data(), static_cast<DWORD>(buffer.size()), win32::Wide(fileName).c_str());
    if (n + 1 < buffer.size()) return win32::FromWide(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace plat
