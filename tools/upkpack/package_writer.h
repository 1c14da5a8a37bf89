// Lays out a package file: the Setup image, the upk4 image, the archive
// when it travels inside, the scrambled config block, the 28-byte trailer
// and the marker. The archive's offsets count from its own first byte; the
// reader works out the bytes before it from the end record.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include "setup/package_format.h"

namespace upkpack {

struct PackageParts {
  std::filesystem::path setup;
  std::filesystem::path upk4;
  std::optional<std::filesystem::path> archive;  // inside the package
  std::string configText;                        // unscrambled, ANSI
  int32_t packageFlags = 1;
  int32_t openValue = 0;
  int32_t initValue = 0;
};

// Writes the package and returns its trailer. Throws PackError when a part
// cannot be read, the result cannot be written, or the layout does not fit
// the trailer's 32-bit fields and the reader's 32-bit offsets.
setup::PackageTrailer WritePackage(const std::filesystem::path& output, const PackageParts& parts);

}  // namespace upkpack
