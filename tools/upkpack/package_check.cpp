#include "package_check.h"

#include <zlib.h>

#include <vector>

#include "framework/file.h"
#include "pack_error.h"
#include "package_archive.h"
#include "payload_extractor.h"
#include "platform/code_page.h"
#include "platform/native_path.h"
#include "setup/package_crc.h"
#include "setup/package_trailer.h"
#include "upk4/archive.h"
#include "upk4/zip_exception.h"

namespace upkpack {

namespace {

std::string Utf8(plat::WStringView text) { return plat::Utf16ToUtf8(text); }

bool SameTrailer(const setup::PackageTrailer& a, const setup::PackageTrailer& b) {
  return a.Serialize() == b.Serialize();
}

void CheckPackageFormat(const plat::WString& path, const ExpectedPackage& expected) {
  CFile file;
  if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) {
    throw PackError("cannot reopen the package " + Utf8(path));
  }
  // The marker Setup finds first must be the one written last.
  std::optional<int32_t> distance;
  try {
    distance = setup::LocateMarker(file);
  } catch (const CFileException&) {
  }
  if (distance && *distance != static_cast<int32_t>(setup::kMarkerLength)) {
    throw PackError(
        "the marker text also occurs earlier in the last 30720 bytes of the package (in a "
        "stored payload file?), so Setup would read the wrong trailer; deflate the payload or "
        "put the archive beside the package");
  }
  setup::PackageInfo info;
  if (!distance || setup::ReadPackage(file, &info) != setup::PackageStatus::Ok) {
    throw PackError("the package's trailer does not read back");
  }
  if (!SameTrailer(info.trailer, expected.trailer)) {
    throw PackError("the package's trailer does not read back as written");
  }
  std::vector<plat::WString> tokens;
  if (info.config.subDir) tokens.push_back(*info.config.subDir);
  if (info.config.password) tokens.push_back(*info.config.password);
  if (info.config.archiveName) tokens.push_back(*info.config.archiveName);
  if (tokens != expected.configTokens) {
    throw PackError("the package's config block does not read back as written");
  }
  // What Setup will check first: the CRC-32 before the config block.
  try {
    if (setup::CheckPackageCrc(file, info.markerDistance, info.trailer).verdict ==
        setup::PackageCrcVerdict::Damaged) {
      throw PackError("the package's CRC-32 does not read back as written");
    }
  } catch (const CFileException& e) {
    throw PackError("the package does not read back whole: " + Utf8(e.GetErrorMessage()));
  }
}

// Decodes one entry whole; its CRC-32 and size must be those of the header
// and of the file that went in.
void TestEntry(const upk2::OpenedPackage& package, uint16_t index, const ExpectedEntry& expected,
               std::vector<uint8_t>& buffer, uint64_t& done, uint64_t total,
               const std::function<void(uint64_t, uint64_t)>& progress) {
  const EntryRecord* header = &package.archive->Entry(index);
  const std::string name = Utf8(expected.name);
  if (header->GetNameWide() != expected.name) {
    throw PackError("entry " + std::to_string(index) + " reads back as \"" +
                    Utf8(header->GetNameWide()) + "\" instead of \"" + name + "\"");
  }
  if (header->IsDirectory() != expected.directory) {
    throw PackError("entry \"" + name + "\" has the wrong kind");
  }
  if (expected.directory) return;
  const std::unique_ptr<EntryReader> reader = package.archive->OpenEntry(index, package.password);
  if (!reader) throw PackError("cannot open entry \"" + name + "\"");
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t size = 0;
  const auto chunk = static_cast<uint32_t>(buffer.size());
  uint32_t got = 0;
  do {
    got = reader->Read(buffer.data(), chunk);
    crc = crc32(crc, buffer.data(), got);
    size += got;
    done += got;
    if (progress) progress(done, total);
  } while (got == chunk);
  const int32_t verdict = reader->Finish();
  reader->CheckDescriptor();
  if (verdict != 1 || size != expected.size ||
      size != header->uncompressedSize || static_cast<uint32_t>(crc) != header->crc32) {
    throw PackError("entry \"" + name + "\" does not decode to what went in");
  }
}

}  // namespace

void CheckPackage(const std::filesystem::path& package, const ExpectedPackage& expected,
                  const std::function<void(uint64_t done, uint64_t total)>& progress) {
  const plat::WString path = plat::FromNativePath(std::filesystem::absolute(package).string());
  CheckPackageFormat(path, expected);

  uint64_t total = 0;
  for (const ExpectedEntry& entry : expected.entries) total += entry.size;

  try {
    const upk2::PackageArchive archive = upk2::LocatePackageArchive(path);
    const upk2::OpenedPackage package = upk2::OpenPackageArchive(archive);
    const Archive& reader = *package.archive;
    if (reader.EntryCount() != expected.entries.size()) {
      throw PackError("the archive reads back with " + std::to_string(reader.EntryCount()) +
                      " entries instead of " + std::to_string(expected.entries.size()));
    }
    // Setup finds the second stage by a name lookup that ignores case.
    const int32_t found = reader.Find(upk2::kSecondStageEntry, false);
    if (found < 0 || !upk2::IsSecondStageEntry(reader.Entry(static_cast<size_t>(found)).GetNameWide())) {
      throw PackError(
          "Setup's lookup of \"A11\" does not find the second stage in the archive");
    }
    std::vector<uint8_t> buffer(65535);
    uint64_t done = 0;
    for (size_t i = 0; i < expected.entries.size(); ++i) {
      TestEntry(package, static_cast<uint16_t>(i), expected.entries[i], buffer, done, total,
                progress);
    }
  } catch (const upk2::Upk2Error& e) {
    throw PackError(std::string("the package does not read back: ") + e.what());
  } catch (const CException& e) {
    throw PackError("the archive does not read back: " + Utf8(e.GetErrorMessage()));
  }
}

}  // namespace upkpack
