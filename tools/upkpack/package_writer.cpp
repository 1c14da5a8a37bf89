#include "package_writer.h"

#include <fstream>
#include <limits>
#include <vector>

#include "pack_error.h"
#include "setup/package_trailer.h"

namespace upkpack {

namespace fs = std::filesystem;

namespace {

uint64_t SizeOf(const fs::path& path) {
  std::error_code ec;
  const uint64_t size = fs::file_size(path, ec);
  if (ec) throw PackError("cannot read " + path.string() + ": " + ec.message());
  return size;
}

void Append(std::ofstream& out, const fs::path& from, uint64_t expected) {
  std::ifstream in(from, std::ios::binary);
  if (!in) throw PackError("cannot read " + from.string());
  std::vector<char> buffer(1 << 20);
  uint64_t copied = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = in.gcount();
    out.write(buffer.data(), got);
    copied += static_cast<uint64_t>(got);
  }
  if (in.bad() || copied != expected) throw PackError("cannot read " + from.string() + " whole");
}

}  // namespace

setup::PackageTrailer WritePackage(const fs::path& output, const PackageParts& parts) {
  const uint64_t setupSize = SizeOf(parts.setup);
  const uint64_t libraryEnd = setupSize + SizeOf(parts.upk4);
  if (libraryEnd > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    throw PackError("Setup and upk4 together are too large for the package trailer");
  }
  const uint64_t archiveSize = parts.archive ? SizeOf(*parts.archive) : 0;
  if (parts.configText.size() >= static_cast<size_t>(setup::kConfigLimit)) {
    throw PackError("the config block is too long");
  }

  setup::PackageTrailer trailer;
  trailer.configLength = static_cast<int32_t>(parts.configText.size());
  trailer.libraryStart = static_cast<int32_t>(setupSize);
  trailer.libraryEnd = static_cast<int32_t>(libraryEnd);
  trailer.openValue = parts.openValue;
  trailer.packageFlags = parts.packageFlags;
  trailer.reserved = 0;
  trailer.initValue = parts.initValue;

  std::string config = parts.configText;
  setup::UnscrambleConfig(reinterpret_cast<uint8_t*>(config.data()), config.size());
  const auto trailerBytes = trailer.Serialize();
  const std::string marker = setup::AssembleMarker();

  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!out) throw PackError("cannot create " + output.string());
  Append(out, parts.setup, setupSize);
  Append(out, parts.upk4, libraryEnd - setupSize);
  if (parts.archive) Append(out, *parts.archive, archiveSize);
  out.write(config.data(), static_cast<std::streamsize>(config.size()));
  out.write(reinterpret_cast<const char*>(trailerBytes.data()),
            static_cast<std::streamsize>(trailerBytes.size()));
  out.write(marker.data(), static_cast<std::streamsize>(marker.size()));
  out.close();
  if (!out) throw PackError("cannot write " + output.string());
  return trailer;
}

}  // namespace upkpack
