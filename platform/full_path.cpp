// The same on every system without drives: a full path as GetFullPathName
// gives it, relative names taken from the current directory and "." and
// ".." components folded away. Windows asks the system itself.
#include <vector>

#include "platform/file_system.h"
#include "platform/native_path.h"

namespace plat {
namespace {

bool IsAbsolute(WStringView path) {
  return !path.empty() && IsPathSeparator(path[0]);
}

}  // namespace

WString FoldFullPath(WStringView name, const std::optional<WString>& currentDirectory) {
  WString path(name);
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  if (!IsAbsolute(path)) {
    if (!currentDirectory) return path;
    path = *currentDirectory + u"\\" + path;
  }
  std::vector<WString> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find(u'\\', pos);
    if (end == WString::npos) end = path.size();
    WString part = path.substr(pos, end - pos);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(std::move(part));
    }
    pos = end + 1;
  }
  WString full;
  for (const WString& part : parts) full += u"\\" + part;
  return full.empty() ? WString(u"\\") : full;
}

}  // namespace plat
