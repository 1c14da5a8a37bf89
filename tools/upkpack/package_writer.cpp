#include "package_writer.h"

#include <fstream>
#include <limits>
#include <vector>

#include "framework/file.h"
#include "pack_error.h"
#include "platform/code_page.h"
#include "platform/native_path.h"
#include "setup/package_crc.h"
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

// The CRC-32 of the first `covered` bytes as Setup computes it, read back
// from the file written.
uint32_t CoveredCrc(const fs::path& path, uint64_t covered, uint64_t imageLength) {
  const plat::WString name = plat::FromNativePath(fs::absolute(path).string());
  CFile file;
  if (!file.Open(name, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) {
    throw PackError("cannot reopen " + path.string());
  }
  try {
    return setup::ComputePackageCrc(file, covered, imageLength);
  } catch (const CFileException& e) {
    throw PackError("cannot read " + path.string() + " back: " +
                    plat::Utf16ToUtf8(e.GetErrorMessage()));
  }
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
  trailer.initValue = parts.initValue;

  std::string config = parts.configText;
  setup::UnscrambleConfig(reinterpret_cast<uint8_t*>(config.data()), config.size());
  const std::string marker = setup::AssembleMarker();

  {
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    if (!out) throw PackError("cannot create " + output.string());
    Append(out, parts.setup, setupSize);
    Append(out, parts.upk4, libraryEnd - setupSize);
    if (parts.archive) Append(out, *parts.archive, archiveSize);
    out.close();
    if (!out) throw PackError("cannot write " + output.string());
  }
  // Everything before the config block is covered; a CRC-32 of 0 stays 0,
  // which Setup reads as "no check" (the caller says so).
  trailer.reserved =
      static_cast<int32_t>(CoveredCrc(output, libraryEnd + archiveSize, setupSize));
  const auto trailerBytes = trailer.Serialize();

  std::ofstream out(output, std::ios::binary | std::ios::app);
  if (!out) throw PackError("cannot reopen " + output.string());
  out.write(config.data(), static_cast<std::streamsize>(config.size()));
  out.write(reinterpret_cast<const char*>(trailerBytes.data()),
            static_cast<std::streamsize>(trailerBytes.size()));
  out.write(marker.data(), static_cast<std::streamsize>(marker.size()));
  out.close();
  if (!out) throw PackError("cannot write " + output.string());
  return trailer;
}

}  // namespace upkpack
