// Binding libzstd (see zstd_library.h).
#include "upk4/zstd_library.h"
#include "upk4/codec_binding.h"

namespace {

const ZstdEntryPoints* Load() {
  static ZstdEntryPoints points{};
#ifdef UPK_ZSTD_SONAME
  using codec_binding::Bind;
  // Loaded for the life of the process: decoders on other threads may
  // still be in it.
  const plat::LibraryHandle library = plat::LoadSystemLibrary(UPK_ZSTD_SONAME);
  if (library == nullptr) return nullptr;
  if (!Bind(library, "ZSTD_createDCtx", points.createDCtx) ||
      !Bind(library, "ZSTD_freeDCtx", points.freeDCtx) ||
      !Bind(library, "ZSTD_DCtx_setParameter", points.setParameter) ||
      !Bind(library, "ZSTD_decompressStream", points.decompressStream) ||
      !Bind(library, "ZSTD_isError", points.isError) ||
      !Bind(library, "ZSTD_getErrorName", points.getErrorName) ||
      !Bind(library, "ZSTD_getErrorCode", points.getErrorCode)) {
    plat::FreeLibrary(library);
    return nullptr;
  }
#else
  points = {&ZSTD_createDCtx, &ZSTD_freeDCtx,     &ZSTD_DCtx_setParameter, &ZSTD_decompressStream,
            &ZSTD_isError,    &ZSTD_getErrorName, &ZSTD_getErrorCode};
#endif
  return &points;
}

}  // namespace

const ZstdEntryPoints* BindZstd() {
  static const ZstdEntryPoints* const points = Load();
  return points;
}

const char* ZstdLibraryName() {
#ifdef UPK_ZSTD_SONAME
  return UPK_ZSTD_SONAME;
#else
  return "libzstd";
#endif
}
