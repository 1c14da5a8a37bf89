// liblzma's raw-decoding entry points, bound as libzstd's are (see
// zstd_library.h): loaded on the first LZMA entry where the library is a
// shared one of the system, linked in where it is static.
#pragma once
#include <cstdint>
#include <cstddef>
#include <lzma.h>

// Of the declared types, attributes (noexcept) included.
struct LzmaEntryPoints {
  decltype(&lzma_properties_decode) propertiesDecode;
  decltype(&lzma_raw_decoder_memusage) rawDecoderMemusage;
  decltype(&lzma_raw_decoder) rawDecoder;
  decltype(&lzma_code) code;
  decltype(&lzma_end) end;
};

// Binds the library on the first call (once per process, from any thread);
// null when it cannot be loaded or lacks an entry point.
const LzmaEntryPoints* BindLzma();
// The library's name, for messages.
const char* LzmaLibraryName();
