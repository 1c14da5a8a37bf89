#include "upk4/path_key.h"
#include "platform/code_page.h"
#include "platform/native_path.h"

std::vector<plat::WStringView> PathComponents(plat::WStringView relative) {
  std::vector<plat::WStringView> parts;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = start;
    while (end < relative.size() && !plat::IsPathSeparator(relative[end])) ++end;
    const plat::WStringView part = relative.substr(start, end - start);
    if (!part.empty() && part != u".") parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

plat::WString JoinComponents(const std::vector<plat::WStringView>& parts, size_t count, bool fold) {
  plat::WString key;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) key += u'\\';
    for (char16_t c : parts[i]) key += fold ? plat::FoldCaseWide(c) : c;
  }
  return key;
}

plat::WString FoldedPathKey(plat::WStringView relative) {
  const std::vector<plat::WStringView> parts = PathComponents(relative);
  return JoinComponents(parts, parts.size(), true);
}

plat::WString FoldedParentKey(plat::WStringView relative) {
  const std::vector<plat::WStringView> parts = PathComponents(relative);
  return JoinComponents(parts, parts.empty() ? 0 : parts.size() - 1, true);
}
