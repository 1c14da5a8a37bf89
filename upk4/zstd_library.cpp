// Binding libzstd (see zstd_library.h).
#include "upk4/zstd_library.h"
#include <type_traits>
#include "upk4/codec_binding.h"

namespace {

// The pointers have the library's declared types, so a changed header
// fails the build.
static_assert(std::is_same_v<decltype(&ZSTD_createDCtx), decltype(ZstdEntryPoints::createDCtx)>);
static_assert(std::is_same_v<decltype(&ZSTD_freeDCtx), decltype(ZstdEntryPoints::freeDCtx)>);
static_assert(std::is_same_v<decltype(&ZSTD_DCtx_setParameter),
                             decltype(ZstdEntryPoints::setParameter)>);
static_assert(std::is_same_v<decltype(&ZSTD_decompressStream),
                             decltype(ZstdEntryPoints::decompressStream)>);
static_assert(std::is_same_v<decltype(&ZSTD_isError), decltype(ZstdEntryPoints::isError)>);
static_assert(std::is_same_v<decltype(&ZSTD_getErrorName), decltype(ZstdEntryPoints::getErrorName)>);
static_assert(std::is_same_v<decltype(&ZSTD_getErrorCode), decltype(ZstdEntryPoints::getErrorCode)>);

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
