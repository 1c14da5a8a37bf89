// Memory that is about to be filled.
#pragma once
#include <cstddef>

namespace plat {

// Makes the pages of a freshly allocated block present in one call, rather
// than one fault per page on first touch (a large part of the cost of a
// short run on a virtual machine). Only a hint: where the system has no
// such call, or refuses it, the pages come on first touch as usual.
void PopulateMemory(void* data, size_t size);

}  // namespace plat
