#include "setup/package_trailer.h"

#include <algorithm>
#include <cstring>

#include "framework/byte_cursor.h"
#include "platform/code_page.h"

namespace setup {

namespace {

// Reads until count bytes or the end of the file; the bytes read.
size_t ReadUpTo(CFile& file, uint8_t* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const uint32_t got = file.Read(buffer + done, static_cast<uint32_t>(count - done));
    if (got == 0) break;
    done += got;
  }
  return done;
}

}  // namespace

std::string AssembleMarker() {
  // Built piecewise through a volatile pointer so that the compiler cannot
  // fold the pieces into one literal in the image.
  static const char* volatile pieces[] = {">QXI", "NST_", "SETUP<"};
  std::string marker;
  for (const char* piece : pieces) marker += piece;
  return marker;
}

PackageTrailer PackageTrailer::Parse(const uint8_t* bytes) {
  ByteCursor c(bytes, kTrailerSize);
  auto field = [&c] { return static_cast<int32_t>(c.U32()); };
  PackageTrailer t;
  t.configLength = field();
  t.libraryStart = field();
  t.libraryEnd = field();
  t.openValue = field();
  t.packageFlags = field();
  t.reserved = field();
  t.initValue = field();
  return t;
}

std::array<uint8_t, kTrailerSize> PackageTrailer::Serialize() const {
  std::string out;
  for (int32_t field : {configLength, libraryStart, libraryEnd, openValue, packageFlags, reserved, initValue})
    AppendLe32(out, static_cast<uint32_t>(field));
  std::array<uint8_t, kTrailerSize> bytes{};
  std::copy(out.begin(), out.end(), bytes.begin());
  return bytes;
}

std::optional<size_t> FindMarker(const uint8_t* window, size_t length, std::string_view marker) {
  const size_t n = marker.size();
  if (n > length) return std::nullopt;
  if (length == 0 || n == 0) return 0;
  for (size_t p = 0; p + n <= length; ++p) {
    if (window[p] == static_cast<uint8_t>(marker[0]) &&
        std::memcmp(window + p + 1, marker.data() + 1, n - 1) == 0) {
      return p;
    }
  }
  return std::nullopt;
}

void UnscrambleConfig(uint8_t* block, size_t length) {
  for (size_t i = 0; i < length; ++i) block[i] ^= kConfigKey;
}

std::vector<plat::WString> SplitConfigTokens(std::string_view text) {
  const size_t end = std::min(text.find('\0'), text.size());
  text = text.substr(0, end);
  std::vector<plat::WString> tokens;
  size_t pos = 0;
  while (pos < text.size()) {
    pos = text.find_first_not_of(kConfigSeparator, pos);
    if (pos == std::string_view::npos) break;
    size_t stop = text.find(kConfigSeparator, pos);
    if (stop == std::string_view::npos) stop = text.size();
    tokens.push_back(plat::AnsiToWide(text.substr(pos, stop - pos)));
    pos = stop;
  }
  return tokens;
}

PackageConfig PackageConfig::FromTokens(const std::vector<plat::WString>& tokens) {
  PackageConfig config;
  if (tokens.size() > 0) config.subDir = tokens[0];
  if (tokens.size() > 1) config.password = tokens[1];
  if (tokens.size() > 2) config.archiveName = tokens[2];
  return config;
}

plat::WString PackageConfig::ArchivePath(plat::WStringView setupPath,
                                         plat::WStringView moduleDir) const {
  if (!archiveName) return plat::WString(setupPath);
  plat::WString path(moduleDir);
  if (subDir && subDir->size() > 1) path += *subDir;
  path += *archiveName;
  return path;
}

std::optional<int32_t> LocateMarker(CFile& file) {
  const std::string marker = AssembleMarker();
  const uint64_t fileLength = file.GetLength();
  // A file shorter than the window is searched whole.
  const auto window = static_cast<uint32_t>(std::min<uint64_t>(kMarkerWindow, fileLength));
  std::vector<uint8_t> buffer(static_cast<size_t>(window) + 2, 0);
  file.Seek(-static_cast<int64_t>(window), CFile::end);
  const size_t got = ReadUpTo(file, buffer.data(), window);
  if (got != window) return std::nullopt;
  const std::optional<size_t> match = FindMarker(buffer.data(), window, marker);
  if (!match) return std::nullopt;
  const auto distance = static_cast<int32_t>(window - *match);

  // Confirm by reading the marker again at its distance from the end.
  uint8_t check[100] = {};
  file.Seek(-static_cast<int64_t>(distance), CFile::end);
  const size_t checked = ReadUpTo(file, check, std::min<size_t>(marker.size(), sizeof check));
  if (checked < marker.size() || std::memcmp(check, marker.data(), marker.size()) != 0) {
    return std::nullopt;
  }
  return distance;
}

std::optional<PackageTrailer> ReadTrailer(CFile& file, int32_t markerDistance) {
  const auto fileLength = static_cast<int64_t>(file.GetLength());
  if (markerDistance < 0) return std::nullopt;
  const int64_t trailerDistance = static_cast<int64_t>(markerDistance) + kTrailerSize;
  if (trailerDistance > fileLength) return std::nullopt;
  uint8_t bytes[kTrailerSize];
  file.Seek(-trailerDistance, CFile::end);
  if (ReadUpTo(file, bytes, sizeof bytes) != sizeof bytes) return std::nullopt;
  const PackageTrailer trailer = PackageTrailer::Parse(bytes);

  if (trailer.libraryStart < 0 || trailer.libraryEnd < trailer.libraryStart ||
      trailer.libraryEnd > fileLength) {
    return std::nullopt;
  }
  if (trailer.ConfigWanted() &&
      (trailer.configLength < 0 || trailerDistance + trailer.configLength > fileLength)) {
    return std::nullopt;
  }
  return trailer;
}

PackageConfig ReadConfig(CFile& file, int32_t markerDistance, const PackageTrailer& trailer) {
  if (!trailer.ConfigWanted() || trailer.configLength <= 0) return {};
  const int64_t distance =
      static_cast<int64_t>(markerDistance) + kTrailerSize + trailer.configLength;
  std::vector<uint8_t> block(static_cast<size_t>(kConfigLimit) + 2, 0);
  file.Seek(-distance, CFile::end);
  const size_t got = ReadUpTo(file, block.data(), static_cast<size_t>(trailer.configLength));
  UnscrambleConfig(block.data(), got);
  const std::string_view text(reinterpret_cast<const char*>(block.data()), got);
  return PackageConfig::FromTokens(SplitConfigTokens(text));
}

PackageStatus ReadPackage(CFile& file, PackageInfo* info) {
  try {
    const std::optional<int32_t> distance = LocateMarker(file);
    if (!distance) return PackageStatus::NoMarker;
    const std::optional<PackageTrailer> trailer = ReadTrailer(file, *distance);
    if (!trailer) return PackageStatus::BadTrailer;
    info->markerDistance = *distance;
    info->trailer = *trailer;
    info->config = ReadConfig(file, *distance, *trailer);
    return PackageStatus::Ok;
  } catch (const CFileException&) {
    return PackageStatus::ReadError;
  }
}

}  // namespace setup
