// libzstd's decoding entry points. Where the library is a shared one of the
// system (Linux), it is loaded on the first Zstandard entry rather than at
// start-up, as ISA-L is: a process that reads only deflated entries never
// maps it. Where it is linked in (the Windows set), the entry points are
// its own functions.
#pragma once
#include <cstddef>
#include <zstd.h>
#include <zstd_errors.h>

struct ZstdEntryPoints {
  ZSTD_DCtx* (*createDCtx)();
  size_t (*freeDCtx)(ZSTD_DCtx* context);
  size_t (*setParameter)(ZSTD_DCtx* context, ZSTD_dParameter parameter, int value);
  size_t (*decompressStream)(ZSTD_DCtx* context, ZSTD_outBuffer* output, ZSTD_inBuffer* input);
  unsigned (*isError)(size_t code);
  const char* (*getErrorName)(size_t code);
  ZSTD_ErrorCode (*getErrorCode)(size_t code);
};

// Binds the library on the first call (once per process, from any thread);
// null when it cannot be loaded or lacks an entry point.
const ZstdEntryPoints* BindZstd();
// The library's name, for messages.
const char* ZstdLibraryName();
