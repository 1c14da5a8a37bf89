// The rule for names that Windows would take for something else; common
// code, unit-tested on every system.
#include "platform/windows_names.h"

#include "platform/native_path.h"

namespace plat {
namespace {

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9: the part before the first dot,
// in any case, once the blanks Windows ignores before that dot are gone
// ("nul .txt" is NUL too).
bool IsDeviceName(WStringView component) {
  WStringView stem = component.substr(0, component.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  WString upper;
  for (char16_t c : stem) upper += Upper(c);
  if (upper == u"CON" || upper == u"PRN" || upper == u"AUX" || upper == u"NUL") return true;
  // Windows also takes the superscript digits 1-3 for COM and LPT ports.
  return upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) &&
         ((upper[3] >= u'1' && upper[3] <= u'9') || upper[3] == u'\u00b9' ||
          upper[3] == u'\u00b2' || upper[3] == u'\u00b3');
}

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
