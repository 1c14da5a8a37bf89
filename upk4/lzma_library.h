// liblzma's raw-decoding entry points, bound as libzstd's are (see
// zstd_library.h): loaded on the first LZMA entry where the library is a
// shared one of the system, linked in where it is static.
#pragma once
#include <cstdint>
#include <cstddef>
#include <lzma.h>

struct LzmaEntryPoints {
  lzma_ret (*propertiesDecode)(lzma_filter* filter, const lzma_allocator* allocator,
                               const uint8_t* props, size_t propsSize);
  uint64_t (*rawDecoderMemusage)(const lzma_filter* filters);
  lzma_ret (*rawDecoder)(lzma_stream* stream, const lzma_filter* filters);
  lzma_ret (*code)(lzma_stream* stream, lzma_action action);
  void (*end)(lzma_stream* stream);
};

// Binds the library on the first call (once per process, from any thread);
// null when it cannot be loaded or lacks an entry point.
const LzmaEntryPoints* BindLzma();
// The library's name, for messages.
const char* LzmaLibraryName();
