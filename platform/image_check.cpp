// Whether an ELF or PE image is whole, from its headers and its size.
#include "platform/image_check.h"

#include <algorithm>
#include <string>

#include "platform/file_handle.h"

namespace plat {
namespace {

// Reads an unsigned little- or big-endian field; false when it lies outside
// the bytes at hand.
bool Field(std::string_view b, uint64_t at, unsigned width, bool big, uint64_t* out) {
  if (at > b.size() || b.size() - at < width) return false;
  uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) {
    const auto byte = static_cast<uint8_t>(b[at + (big ? i : width - 1 - i)]);
    v = (v << 8) | byte;
  }
  *out = v;
  return true;
}

bool Within(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

bool ElfIsWhole(std::string_view b, uint64_t size) {
  const bool wide = b[4] == 2;  // ELFCLASS64
  const bool big = b[5] == 2;   // ELFDATA2MSB
  if ((b[4] != 1 && b[4] != 2) || (b[5] != 1 && b[5] != 2)) return false;
  const unsigned word = wide ? 8 : 4;
  uint64_t phoff = 0, shoff = 0, phentsize = 0, phnum = 0, shentsize = 0, shnum = 0;
  const uint64_t at = wide ? 0x20 : 0x1C;  // e_phoff
  if (!Field(b, at, word, big, &phoff) || !Field(b, at + word, word, big, &shoff) ||
      !Field(b, at + 2 * word + 6, 2, big, &phentsize) ||
      !Field(b, at + 2 * word + 8, 2, big, &phnum) ||
      !Field(b, at + 2 * word + 10, 2, big, &shentsize) ||
      !Field(b, at + 2 * word + 12, 2, big, &shnum)) {
    return false;
  }
  if (phnum == 0 || phentsize < (wide ? 56u : 32u)) return false;
  if (!Within(phoff, phnum * phentsize, size)) return false;
  if (shoff != 0 && !Within(shoff, shnum * shentsize, size)) return false;
  for (uint64_t i = 0; i < phnum; ++i) {
    const uint64_t ph = phoff + i * phentsize;
    uint64_t type = 0, offset = 0, filesz = 0;
    if (!Field(b, ph, 4, big, &type)) return false;  // the table must be at hand
    if (type != 1) continue;                          // PT_LOAD only is mapped
    const bool read = wide ? Field(b, ph + 8, 8, big, &offset) && Field(b, ph + 32, 8, big, &filesz)
                           : Field(b, ph + 4, 4, big, &offset) && Field(b, ph + 16, 4, big, &filesz);
    if (!read || !Within(offset, filesz, size)) return false;
  }
  return true;
}

bool PeIsWhole(std::string_view b, uint64_t size) {
  uint64_t lfanew = 0, sections = 0, optional = 0, headers = 0;
  if (!Field(b, 0x3C, 4, false, &lfanew) || !Field(b, lfanew, 4, false, &sections)) return false;
  if (sections != 0x00004550) return false;  // "PE\0\0"
  if (!Field(b, lfanew + 6, 2, false, &sections) || !Field(b, lfanew + 20, 2, false, &optional) ||
      !Field(b, lfanew + 24 + 60, 4, false, &headers)) {  // SizeOfHeaders, PE32 and PE32+ alike
    return false;
  }
  if (!Within(0, headers, size)) return false;
  const uint64_t table = lfanew + 24 + optional;
  for (uint64_t i = 0; i < sections; ++i) {
    uint64_t raw = 0, pointer = 0;
    if (!Field(b, table + i * 40 + 16, 4, false, &raw) ||
        !Field(b, table + i * 40 + 20, 4, false, &pointer)) {
      return false;
    }
    if (raw != 0 && !Within(pointer, raw, size)) return false;
  }
  return true;
}

}  // namespace

bool IsWholeImage(std::string_view head, uint64_t size) {
  if (head.size() > size) return false;
  if (head.size() >= 64 && head.substr(0, 4) == "\x7f" "ELF") return ElfIsWhole(head, size);
  if (head.size() >= 64 && head.substr(0, 2) == "MZ") return PeIsWhole(head, size);
  return false;
}

bool IsWholeImageFile(std::u16string_view path) {
  const FileHandle file =
      OpenFileHandle(path, FileAccess::Read, FileShare::DenyNone, FileCreate::OpenExisting);
  if (file == kInvalidFile) return true;
  const int64_t size = GetFileHandleSize(file);
  std::string head(size > 0 ? static_cast<size_t>(std::min<int64_t>(size, kImageHeadBytes)) : 0, '\0');
  const int64_t got =
      head.empty() ? 0 : ReadFileHandle(file, head.data(), static_cast<uint32_t>(head.size()));
  CloseFileHandle(file);
  if (size < 0 || got < 0) return true;
  head.resize(static_cast<size_t>(got));
  return IsWholeImage(head, static_cast<uint64_t>(size));
}

}  // namespace plat
