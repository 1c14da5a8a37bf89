// Win32 system calls: the system's profile-string writer and reader.
#include "platform/win32/windows_api.h"

#include "platform/code_page.h"
#include "platform/last_error.h"
#include "platform/profile.h"
#include "platform/new_file.h"
#include "platform/profile_text.h"

namespace plat {

bool WriteProfileString(WStringView section, WStringView key, WStringView value,
                        WStringView fileName) {
  return ::WritePrivateProfileStringW(win32::Wide(section).c_str(), win32::Wide(key).c_str(),
                                      win32::Wide(value).c_str(),
                                      win32::Wide(fileName).c_str()) != FALSE;
}

bool WriteNewProfileFile(WStringView section, WStringView key, WStringView value,
                         WStringView fileName) {
  if (!IsValidProfileEntry(section, key, value)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::string utf8 = WithProfileValue({}, section, key, value);
  std::string bytes = "\xFF\xFE";  // UTF-16LE
  for (char16_t c : Utf8ToUtf16(utf8)) {
    if (c == u'\n') bytes += std::string("\r\0", 2);
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return WriteNewFile(fileName, bytes);
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
