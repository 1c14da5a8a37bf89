// The builder's last step: read the package back the way Setup and the
// second stage will (marker, trailer, config, archive through the upk4
// reader) and test every entry, decoding it and checking its CRC-32 and
// size, like "zip -T". A package that fails here is never installed.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>
#include "platform/win_types.h"
#include "setup/package_format.h"

namespace upkpack {

struct ExpectedEntry {
  plat::WString name;  // as the reader presents it ("\" separators)
  bool directory = false;
  uint64_t size = 0;
};

struct ExpectedPackage {
  setup::PackageTrailer trailer;
  std::vector<plat::WString> configTokens;
  std::vector<ExpectedEntry> entries;
};

// Throws PackError naming the first thing that does not read back.
void CheckPackage(const std::filesystem::path& package, const ExpectedPackage& expected,
                  const std::function<void(uint64_t done, uint64_t total)>& progress);

}  // namespace upkpack
