// libzstd's decoding entry points. Where the library is a shared one of the
// system (Linux), it is loaded on the first Zstandard entry rather than at
// start-up, as ISA-L is: a process that reads only deflated entries never
// maps it. Where it is linked in (the Windows set), the entry points are
// its own functions.
#pragma once
#include <cstddef>
#include <zstd.h>
#include <zstd_errors.h>

// Of the declared types.
struct ZstdEntryPoints {
  decltype(&ZSTD_createDCtx) createDCtx;
  decltype(&ZSTD_freeDCtx) freeDCtx;
  decltype(&ZSTD_DCtx_setParameter) setParameter;
  decltype(&ZSTD_decompressStream) decompressStream;
  decltype(&ZSTD_isError) isError;
  decltype(&ZSTD_getErrorName) getErrorName;
  decltype(&ZSTD_getErrorCode) getErrorCode;
};

// Binds the library on the first call (once per process, from any thread);
// null when it cannot be loaded or lacks an entry point.
const ZstdEntryPoints* BindZstd();
// The library's name, for messages.
const char* ZstdLibraryName();
