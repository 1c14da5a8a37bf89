// Binding liblzma (see lzma_library.h).
#include "upk4/lzma_library.h"
#include "upk4/codec_binding.h"

namespace {

const LzmaEntryPoints* Load() {
  static LzmaEntryPoints points{};
#ifdef UPK_LZMA_SONAME
  using codec_binding::Bind;
  // Loaded for the life of the process: decoders on other threads may
  // still be in it.
  const plat::LibraryHandle library = plat::LoadSystemLibrary(UPK_LZMA_SONAME);
  if (library == nullptr) return nullptr;
  if (!Bind(library, "lzma_properties_decode", points.propertiesDecode) ||
      !Bind(library, "lzma_raw_decoder_memusage", points.rawDecoderMemusage) ||
      !Bind(library, "lzma_raw_decoder", points.rawDecoder) ||
      !Bind(library, "lzma_code", points.code) || !Bind(library, "lzma_end", points.end)) {
    plat::FreeLibrary(library);
    return nullptr;
  }
#else
  points = {&lzma_properties_decode, &lzma_raw_decoder_memusage, &lzma_raw_decoder, &lzma_code,
            &lzma_end};
#endif
  return &points;
}

}  // namespace

const LzmaEntryPoints* BindLzma() {
  static const LzmaEntryPoints* const points = Load();
  return points;
}

const char* LzmaLibraryName() {
#ifdef UPK_LZMA_SONAME
  return UPK_LZMA_SONAME;
#else
  return "liblzma";
#endif
}
