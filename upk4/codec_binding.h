// Binding a library's entry points by name: what isal_library.cpp,
// zstd_library.cpp and lzma_library.cpp share.
#pragma once
#include "platform/library.h"

namespace codec_binding {

// The entry point name of library into out; false when it is missing.
template <typename Function>
bool Bind(plat::LibraryHandle library, const char* name, Function*& out) {
  out = reinterpret_cast<Function*>(plat::GetProcAddress(library, name));
  return out != nullptr;
}

}  // namespace codec_binding
