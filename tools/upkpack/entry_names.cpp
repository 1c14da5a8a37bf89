#include "entry_names.h"

#include "pack_error.h"
#include "platform/code_page.h"

namespace upkpack {

ArchiveName ToArchiveName(plat::WStringView name) {
  ArchiveName out;
  bool ascii = true;
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (c == 0 || low || (high && (i + 1 == name.size() || name[i + 1] < 0xDC00 ||
                                   name[i + 1] > 0xDFFF))) {
      throw PackError("the name \"" + plat::Utf16ToUtf8(name) +
                      "\" holds a character that no archive name can carry");
    }
    if (high) ++i;
    if (c >= 0x80) ascii = false;
  }
  plat::WString slashed(name);
  for (char16_t& c : slashed) {
    if (c == u'\\') c = u'/';
  }
  out.bytes = plat::Utf16ToUtf8(slashed);
  out.utf8 = !ascii;
  return out;
}

plat::WString FromArchiveName(const ArchiveName& name) {
  if (name.utf8) return plat::Utf8ToUtf16(name.bytes);
  std::string copy = name.bytes;
  plat::OemToAnsiInPlace(reinterpret_cast<uint8_t*>(copy.data()), copy.size());
  return plat::AnsiToWide(copy);
}

bool SameEntryName(plat::WStringView a, plat::WStringView b) {
  return plat::CollateWideNoCase(a, b) == 0;
}

}  // namespace upkpack
