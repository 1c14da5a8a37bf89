// Fuzzes how Setup and the second stage read a package from the end of a
// file: any bytes, taken as the whole file, end in one of the reader's
// outcomes (no marker, a trailer that does not fit, or a package whose
// fields all lie inside the file), never in a crash, a hang, a read outside
// the file or an exception other than the file's own.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/span_file.h"
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
  return 0;
}
