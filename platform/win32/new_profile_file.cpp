// Win32: a new profile file of one value, written whole by our own writer
// (profile_text.h) in the encoding the system's reader takes every
// character from.
#include <string>

#include "platform/code_page.h"
#include "platform/last_error.h"
#include "platform/new_file.h"
#include "platform/profile.h"
#include "platform/profile_text.h"

namespace plat {

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

}  // namespace plat
