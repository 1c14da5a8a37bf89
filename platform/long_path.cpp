// The extended-length path form, made from a full path.
#include "platform/long_path.h"

#include <vector>

namespace plat {
namespace {

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

bool IsDeviceName(WStringView component) {
  // The stem before the first dot, trailing blanks ignored, as the system
  // reads it ("nul .txt" is NUL too).
  WStringView stem = component.substr(0, component.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  WString upper;
  for (char16_t c : stem) upper += Upper(c);
  if (upper == u"CON" || upper == u"PRN" || upper == u"AUX" || upper == u"NUL") return true;
  if (upper.size() == 4 && (upper.compare(0, 3, u"COM") == 0 || upper.compare(0, 3, u"LPT") == 0)) {
    return upper[3] >= u'1' && upper[3] <= u'9';
  }
  return false;
}

WString SystemPathForm(WStringView path) {
  if (path.size() < kExtendedPathFrom) return WString(path);
  WString prefix;
  WStringView rest;
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
      (path[2] == u'?' || path[2] == u'.') && IsSeparator(path[3])) {
    return WString(path);  // already in a device or extended form
  }
  if (path.size() >= 3 && path[1] == u':' && IsSeparator(path[2]) &&
      ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'))) {
    prefix = WString(u"\\\\?\\") + path[0] + u":";
    rest = path.substr(2);
  } else if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    prefix = u"\\\\?\\UNC";
    rest = path.substr(1);  // keeps one separator before the server
  } else {
    return WString(path);  // relative: the system resolves it, within its limit
  }

  std::vector<WStringView> parts;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const WStringView part = rest.substr(start, end - start);
    if (part.empty() || part == u".") {
      // nothing: repeated separators and "." name the same directory
    } else if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (IsDeviceName(part) || part.back() == u'.' || part.back() == u' ') {
      return WString(path);
    } else {
      parts.push_back(part);
    }
    start = end + 1;
  }
  WString out = prefix;
  for (WStringView part : parts) {
    out += u'\\';
    out += part;
  }
  if (parts.empty()) out += u'\\';
  return out;
}

}  // namespace plat
