// Fuzzes how Setup and the second stage read a package from the end of a
// file: any bytes, taken as the whole file, end in one of the reader's
// outcomes (no marker, a trailer that does not fit, or a package whose
// fields all lie inside the file), never in a crash, a hang, a read outside
// the file or an exception other than the file's own. The CRC-32 check that
// follows reads only the bytes before the config block, and its verdict is
// the one an independent reading of those bytes gives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include <zlib.h>

#include <vector>

#include "fuzz/span_file.h"
#include "setup/package_crc.h"
#include "setup/package_trailer.h"

namespace {

// Where the marker's first occurrence in the searched window is, counted
// from the end of the file, found without the reader's own search.
int64_t ExpectedMarkerDistance(const uint8_t* data, size_t size, const std::string& marker) {
  const size_t window = std::min<size_t>(setup::kMarkerWindow, size);
  const uint8_t* start = data + size - window;
  const uint8_t* end = data + size;
  const uint8_t* hit = std::search(start, end, marker.begin(), marker.end());
  return hit == end ? -1 : static_cast<int64_t>(end - hit);
}

void CheckConfig(const setup::PackageConfig& config) {
  for (const auto* token : {&config.subDir, &config.password, &config.archiveName}) {
    if (!*token) continue;
    FUZZ_CHECK(!(*token)->empty());
    FUZZ_CHECK((*token)->find(u'|') == plat::WString::npos);
    FUZZ_CHECK((*token)->find(u'\0') == plat::WString::npos);
  }
  // Tokens come in order: a later one never without the earlier ones.
  FUZZ_CHECK(!config.password || config.subDir);
  FUZZ_CHECK(!config.archiveName || config.password);

  const plat::WString setupPath = u"\\fuzz\\Setup";
  const plat::WString moduleDir = u"\\fuzz\\";
  const plat::WString path = config.ArchivePath(setupPath, moduleDir);
  if (!config.archiveName) {
    FUZZ_CHECK(path == setupPath);
  } else {
    FUZZ_CHECK(path.starts_with(moduleDir));
    FUZZ_CHECK(path.ends_with(*config.archiveName));
  }
}

// The package check against its own reading of the bytes: the covered ones
// end where the config block starts, and the signing fields count as zeros.
void CheckCrc(SpanFile& file, const uint8_t* data, size_t size, const setup::PackageInfo& info) {
  const setup::PackageCrcResult result =
      setup::CheckPackageCrc(file, info.markerDistance, info.trailer);
  const setup::PackageTrailer& t = info.trailer;
  if (t.reserved == 0) {
    FUZZ_CHECK(result.verdict == setup::PackageCrcVerdict::NotRecorded);
    return;
  }
  const int64_t end = static_cast<int64_t>(size) - info.markerDistance - setup::kTrailerSize -
                      static_cast<int64_t>(t.configLength);
  if (t.configLength < 0 || end < t.libraryEnd) {
    FUZZ_CHECK(result.verdict == setup::PackageCrcVerdict::Damaged && result.covered == 0);
    return;
  }
  FUZZ_CHECK(result.covered == static_cast<uint64_t>(end));
  std::vector<uint8_t> covered(data, data + end);
  const size_t head = std::min<size_t>(covered.size(), static_cast<size_t>(t.libraryStart));
  if (const auto fields = setup::FindSigningFields(covered.data(), head)) {
    FUZZ_CHECK(fields->checksum + 4 <= head && fields->certificateEntry + 8 <= head);
    std::fill_n(covered.begin() + static_cast<ptrdiff_t>(fields->checksum), 4, 0);
    std::fill_n(covered.begin() + static_cast<ptrdiff_t>(fields->certificateEntry), 8, 0);
  }
  const auto crc = static_cast<uint32_t>(
      crc32(0, covered.data(), static_cast<uInt>(covered.size())));
  FUZZ_CHECK(result.computed == crc);
  FUZZ_CHECK((result.verdict == setup::PackageCrcVerdict::Intact) ==
             (crc == static_cast<uint32_t>(t.reserved)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string marker = setup::AssembleMarker();
  SpanFile file(data, size);
  setup::PackageInfo info;
  const setup::PackageStatus status = setup::ReadPackage(file, &info);

  // Every byte is there to read, so a read error is never the answer.
  FUZZ_CHECK(status != setup::PackageStatus::ReadError);
  const int64_t expectedDistance = ExpectedMarkerDistance(data, size, marker);
  FUZZ_CHECK((status == setup::PackageStatus::NoMarker) == (expectedDistance < 0));
  if (status != setup::PackageStatus::Ok) return 0;

  const auto length = static_cast<int64_t>(size);
  const setup::PackageTrailer& t = info.trailer;
  FUZZ_CHECK(info.markerDistance == expectedDistance);
  FUZZ_CHECK(info.markerDistance + int64_t{setup::kTrailerSize} <= length);
  FUZZ_CHECK(0 <= t.libraryStart && t.libraryStart <= t.libraryEnd && t.libraryEnd <= length);
  if (t.ConfigWanted()) {
    FUZZ_CHECK(t.configLength >= 0);
    FUZZ_CHECK(info.markerDistance + int64_t{setup::kTrailerSize} + t.configLength <= length);
  } else {
    FUZZ_CHECK(!info.config.subDir && !info.config.password && !info.config.archiveName);
  }
  CheckConfig(info.config);
  CheckCrc(file, data, size, info);
  return 0;
}
