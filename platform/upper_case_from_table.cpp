// The upper-case mapping of the generated Unicode table: the POSIX
// backend's case of names. A file of its own: the Windows binaries take the
// system's table and never link these 5 KB.
#include <algorithm>
#include <iterator>

#include "platform/code_page.h"
#include "platform/upper_case_table.h"

namespace plat {

char16_t UpperCaseFromTable(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  const auto* begin = std::begin(unicode::kUpperCase);
  const auto* end = std::end(unicode::kUpperCase);
  const auto* found = std::lower_bound(
      begin, end, c, [](const unicode::UpperCasePair& p, char16_t unit) { return p.unit < unit; });
  return (found != end && found->unit == c) ? found->upper : c;
}

}  // namespace plat
