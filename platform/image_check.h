// Whether a library image is whole: every part that its own headers place in
// the file (ELF segments and section table, PE headers and sections) lies
// within the file's size. A loader maps an image cut short (a damaged
// package, a copy that ended early) past the end of the file and dies of a
// bus error; such an image is refused before it is loaded.
#pragma once
#include <cstdint>
#include <string_view>

namespace plat {

// head: the file's first bytes (at least its headers; kImageHeadBytes is
// enough for every image we make); size: the file's whole size. False for
// an image cut short, for headers that do not fit, and for anything that is
// neither ELF nor PE.
bool IsWholeImage(std::string_view head, uint64_t size);

inline constexpr size_t kImageHeadBytes = 64 * 1024;

// The same for a file: false when it is an image cut short or no image at
// all; true when it cannot be read (the loader then says why).
bool IsWholeImageFile(std::u16string_view path);

}  // namespace plat
