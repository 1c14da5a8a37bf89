// Win32 system calls: none; a native path is the Windows path itself, and
// names compare without regard to case in the file system.
#include "platform/native_path.h"

#include "platform/code_page.h"

namespace plat {

std::string ToNativePath(WStringView path) {
  WString copy(path);
  for (char16_t& c : copy) {
    if (c == u'/') c = u'\\';
  }
  return Utf16ToUtf8(copy);
}

WString FromNativePath(std::string_view native) { return Utf8ToUtf16(native); }

}  // namespace plat
