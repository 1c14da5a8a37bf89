#include "entry_names.h"

#include <map>

#include "pack_error.h"
#include "platform/code_page.h"

namespace upkpack {

namespace {

// UTF-16 unit -> OEM byte, for the bytes above 127 whose way back through
// the reader's conversions is one UTF-16 unit. The first byte wins.
const std::map<char16_t, char>& OemTable() {
  static const std::map<char16_t, char> table = [] {
    std::map<char16_t, char> t;
    for (int b = 0x80; b <= 0xFF; ++b) {
      uint8_t byte = static_cast<uint8_t>(b);
      plat::OemToAnsiInPlace(&byte, 1);
      const plat::WString wide =
          plat::AnsiToWide(std::string_view(reinterpret_cast<const char*>(&byte), 1));
      if (wide.size() == 1) t.emplace(wide[0], static_cast<char>(b));
    }
    return t;
  }();
  return table;
}

}  // namespace

std::string ToArchiveName(plat::WStringView name) {
  std::string bytes;
  bytes.reserve(name.size());
  for (char16_t c : name) {
    if (c == u'\\') c = u'/';
    if (c > 0 && c < 0x80) {
      bytes += static_cast<char>(c);
      continue;
    }
    const auto& table = OemTable();
    const auto it = table.find(c);
    if (c == 0 || it == table.end()) {
      throw PackError("the name \"" + plat::Utf16ToUtf8(name) +
                      "\" has a character that the archive's code page cannot hold");
    }
    bytes += it->second;
  }
  return bytes;
}

plat::WString FromArchiveName(const std::string& bytes) {
  std::string copy = bytes;
  plat::OemToAnsiInPlace(reinterpret_cast<uint8_t*>(copy.data()), copy.size());
  return plat::AnsiToWide(copy);
}

bool SameEntryName(plat::WStringView a, plat::WStringView b) {
  return plat::CollateWideNoCase(a, b) == 0;
}

}  // namespace upkpack
