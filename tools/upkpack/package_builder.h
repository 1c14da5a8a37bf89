// The package builder: writes the archive and the package into a staging
// directory beside the output, reads them back, and only then moves them to
// their names. On any failure nothing new is left behind.
#pragma once
#include <cstdint>
#include <filesystem>
#include <vector>
#include "pack_options.h"

namespace upkpack {

class ProgressLine;

struct BuildResult {
  std::filesystem::path package;
  std::vector<std::filesystem::path> archives;  // beside the package, first to last volume
  size_t entries = 0;
  uint64_t packageSize = 0;
};

// Throws PackError.
BuildResult BuildPackage(const PackOptions& options, ProgressLine& progress);

}  // namespace upkpack
