// Binding ISA-L by name through the platform layer (see isal_library.h).
#ifdef UPK_WITH_ISAL
#include "upk4/isal_library.h"
#include <atomic>
#include <type_traits>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include "platform/library.h"
#include "upk4/codec_binding.h"

namespace {

// The pointers have the declared types, so a changed header fails the build.
static_assert(std::is_same_v<decltype(&isal_inflate_init), decltype(IsalEntryPoints::init)>);
static_assert(std::is_same_v<decltype(&isal_inflate), decltype(IsalEntryPoints::inflate)>);
static_assert(std::is_same_v<decltype(&crc32_gzip_refl), decltype(IsalEntryPoints::crc)>);

std::atomic<const IsalEntryPoints*> bound{nullptr};

using codec_binding::Bind;

const IsalEntryPoints* Load() {
  static IsalEntryPoints points{};
  // The library stays loaded for the life of the process: inflaters of
  // other archives, on other threads, may still be in it when one closes.
  const plat::LibraryHandle library = plat::LoadSystemLibrary(UPK_ISAL_SONAME);
  if (library == nullptr) return nullptr;
  if (!Bind(library, "isal_inflate_init", points.init) ||
      !Bind(library, "isal_inflate", points.inflate) ||
      !Bind(library, "crc32_gzip_refl", points.crc)) {
    plat::FreeLibrary(library);
    return nullptr;
  }
  return &points;
}

}  // namespace

const IsalEntryPoints* BindIsal() {
  static const IsalEntryPoints* const points = [] {
    const IsalEntryPoints* loaded = Load();
    bound.store(loaded, std::memory_order_release);
    return loaded;
  }();
  return points;
}

const IsalEntryPoints* BoundIsal() { return bound.load(std::memory_order_acquire); }
#endif
