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
  // The bytes before the config block have the CRC-32 0, which the trailer
  // cannot tell from "no check": Setup runs this package unchecked.
  bool unchecked = false;
};

// Throws PackError.
BuildResult BuildPackage(const PackOptions& options, ProgressLine& progress);

}  // namespace upkpack
