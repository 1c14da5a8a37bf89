// The rule for names that Windows would take for something else; common
// code, unit-tested on every system.
#include "platform/windows_names.h"

#include "platform/long_path.h"
#include "platform/native_path.h"

namespace plat {
namespace {

WString Quoted(WStringView component) { return u"\"" + WString(component) + u"\""; }

}  // namespace

std::optional<WString> WindowsNameProblem(WStringView name) {
  if (name.find(u':') != WStringView::npos)
    return WString(u"\":\" would name an alternate data stream");
  for (char16_t c : name) {
    if (c < 0x20 || WStringView(u"<>\"|?*").find(c) != WStringView::npos)
      return WString(u"it holds a character that Windows does not allow in names");
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsPathSeparator(name[end])) ++end;
    const WStringView component = name.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == u"." || component == u"..") continue;
    if (IsDeviceName(component)) return Quoted(component) + u" is a device name on Windows";
    if (component.back() == u'.' || component.back() == u' ')
      return Quoted(component) + u" ends in a dot or a blank, which Windows drops";
  }
  return std::nullopt;
}

}  // namespace plat
