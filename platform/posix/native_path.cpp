// Windows-form paths at the core, UTF-8 "/" paths at the system, and the
// case-insensitive lookup that makes "Upk2.dll" find "upk2.dll".
#include "platform/native_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/code_page.h"
#include "platform/posix/posix_support.h"

namespace plat {
namespace {

bool ExistsExactly(const std::string& native) {
  struct stat st{};
  return ::lstat(native.c_str(), &st) == 0;
}

bool SameNameNoCase(WStringView a, WStringView b) {
  return a.size() == b.size() && CollateWideNoCase(a, b) == 0;
}

enum class AsciiMatch { same, differ, unknown };

// Most names are ASCII: those compare without any conversion. Two names of
// the same length that differ in an ASCII byte other than by letter case
// cannot match whatever else they hold.
AsciiMatch MatchAsciiNoCase(const std::string& a, const std::string& b) {
  bool ascii = true;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if ((x | y) & 0x80) {
      ascii = false;
      continue;
    }
    const unsigned char lx = (x >= 'A' && x <= 'Z') ? x + 32 : x;
    const unsigned char ly = (y >= 'A' && y <= 'Z') ? y + 32 : y;
    if (lx != ly) return AsciiMatch::differ;
  }
  return ascii ? AsciiMatch::same : AsciiMatch::unknown;
}

// The entry of the directory that equals name without regard to case; the
// smallest such name when several do, so the choice does not depend on the
// directory's order.
bool FindNoCase(const std::string& directory, const std::string& name, std::string* found) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.empty() ? "." : directory.c_str()),
                                          &::closedir);
  if (!dir) return false;
  WString wanted = Utf8ToUtf16(name);
  bool any = false;
  while (dirent* entry = ::readdir(dir.get())) {
    // Case folding here never changes a name's UTF-8 length (ASCII and the
    // Latin letters of code page 1252), so other lengths cannot match.
    if (std::char_traits<char>::length(entry->d_name) != name.size()) continue;
    std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    const AsciiMatch quick = MatchAsciiNoCase(candidate, name);
    if (quick == AsciiMatch::differ) continue;
    if (quick == AsciiMatch::unknown) {
      WString wide = Utf8ToUtf16(candidate);
      // A name that is not valid UTF-8 would compare as replacement
      // characters and could stand in for another such name: exact only.
      if (Utf16ToUtf8(wide) != candidate || !SameNameNoCase(wide, wanted)) continue;
    }
    if (!any || candidate < *found) *found = candidate;
    any = true;
  }
  return any;
}

}  // namespace

std::string ToNativePath(WStringView path) {
  std::string native = Utf16ToUtf8(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

WString FromNativePath(std::string_view native) {
  WString path = Utf8ToUtf16(native);
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  return path;
}

std::string ResolveNativePath(WStringView path) {
  std::string native = ToNativePath(path);
  if (native.empty() || ExistsExactly(native)) return native;

  // Usually only the last component is new or differs in case: one look at
  // the parent settles it without walking the whole path.
  const size_t slash = native.rfind('/');
  if (slash != std::string::npos && slash + 1 < native.size()) {
    const std::string parent = slash == 0 ? "/" : native.substr(0, slash);
    const std::string last = native.substr(slash + 1);
    if (last != "." && last != ".." && ExistsExactly(parent)) {
      std::string found;
      return FindNoCase(parent, last, &found) ? posix::NativeJoin(parent, found) : native;
    }
  }

  std::string result;
  size_t pos = 0;
  if (native[0] == '/') {
    result = "/";
    pos = 1;
  }
  bool missing = false;  // once a component matches nothing, the rest is kept
  while (pos <= native.size()) {
    size_t end = native.find('/', pos);
    if (end == std::string::npos) end = native.size();
    std::string component = native.substr(pos, end - pos);
    std::string next = component;
    if (!missing && !component.empty() && component != "." && component != "..") {
      std::string candidate = result + component;
      if (!ExistsExactly(candidate)) {
        std::string found;
        if (FindNoCase(result, component, &found)) {
          next = found;
        } else {
          missing = true;
        }
      }
    }
    result += next;
    if (end < native.size()) result += '/';
    pos = end + 1;
  }
  return result;
}

namespace posix {

std::string NativeParent(const std::string& nativePath) {
  std::string path = nativePath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NativeJoin(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

}  // namespace posix
}  // namespace plat
