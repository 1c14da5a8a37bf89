#include "setup/package_crc.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/library.h"
#include "platform/last_error.h"

namespace setup {

namespace {

// Reads this large keep the per-call cost out of the check: a 256 MiB
// package takes 256 reads.
constexpr size_t kReadBlock = size_t{1} << 20;

// PE image header offsets (winnt.h).
constexpr size_t kDosLfanew = 0x3C;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kOptionalChecksum = 64;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kPe32Directories = 96;
constexpr size_t kPe32PlusDirectories = 112;
constexpr uint32_t kSecurityDirectory = 4;
constexpr size_t kDirectoryEntrySize = 8;

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t ZlibCrc(uint32_t crc, const uint8_t* data, size_t size) {
  // zlib takes an unsigned int length: large spans go in pieces.
  while (size > 0) {
    const auto piece = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    crc = static_cast<uint32_t>(crc32(crc, data, piece));
    data += piece;
    size -= piece;
  }
  return crc;
}

#ifdef UPK_WITH_ISAL
using IsalCrc = uint32_t (*)(uint32_t crc, const unsigned char* data, uint64_t size);

// ISA-L by its soname, on first need; null where it is not installed. It
// stays loaded for the life of the process.
IsalCrc BindIsalCrc() {
  static const IsalCrc bound = [] {
    const plat::LibraryHandle library = plat::LoadSystemLibrary(UPK_ISAL_SONAME);
    if (library == nullptr) return IsalCrc{nullptr};
    const auto crc = reinterpret_cast<IsalCrc>(plat::GetProcAddress(library, "crc32_gzip_refl"));
    if (crc == nullptr) plat::FreeLibrary(library);
    return crc;
  }();
  return bound;
}
#endif

}  // namespace

std::optional<uint64_t> CoveredLength(uint64_t fileLength, int32_t markerDistance,
                                      const PackageTrailer& trailer) {
  if (markerDistance < 0 || trailer.configLength < 0 || trailer.libraryStart < 0 ||
      trailer.libraryEnd < trailer.libraryStart) {
    return std::nullopt;
  }
  const uint64_t tail = uint64_t(markerDistance) + kTrailerSize + uint64_t(trailer.configLength);
  if (tail > fileLength) return std::nullopt;
  const uint64_t covered = fileLength - tail;
  // The library lies inside the covered bytes; a config block that would
  // start inside it is a field that does not fit.
  if (covered < uint64_t(trailer.libraryEnd)) return std::nullopt;
  return covered;
}

std::optional<SigningFields> FindSigningFields(const uint8_t* head, size_t length) {
  length = std::min(length, kSigningHeadLimit);
  if (length < kDosLfanew + 4 || head[0] != 'M' || head[1] != 'Z') return std::nullopt;
  const uint64_t pe = Le32(head + kDosLfanew);
  const uint64_t optional = pe + 4 + kFileHeaderSize;
  if (optional + 2 > length || std::memcmp(head + pe, "PE\0\0", 4) != 0) return std::nullopt;
  const uint16_t magic = Le16(head + optional);
  uint64_t directories = 0;
  if (magic == kPe32Magic) {
    directories = optional + kPe32Directories;
  } else if (magic == kPe32PlusMagic) {
    directories = optional + kPe32PlusDirectories;
  } else {
    return std::nullopt;
  }
  // NumberOfRvaAndSizes is the field right before the directories.
  const uint64_t entry = directories + kSecurityDirectory * kDirectoryEntrySize;
  if (entry + kDirectoryEntrySize > length) return std::nullopt;
  if (Le32(head + directories - 4) <= kSecurityDirectory) return std::nullopt;
  SigningFields fields;
  fields.checksum = static_cast<size_t>(optional + kOptionalChecksum);
  fields.certificateEntry = static_cast<size_t>(entry);
  return fields;
}

uint32_t UpdatePackageCrc(uint32_t crc, const uint8_t* data, size_t size) {
#ifdef UPK_WITH_ISAL
  // Mapping ISA-L costs about as much as zlib takes for a few hundred
  // kilobytes: small pieces stay with zlib.
  constexpr size_t kIsalFrom = 256 * 1024;
  if (size >= kIsalFrom) {
    if (const IsalCrc isal = BindIsalCrc()) return isal(crc, data, size);
  }
#endif
  return ZlibCrc(crc, data, size);
}

uint32_t ComputePackageCrc(CFile& file, uint64_t covered, uint64_t imageLength) {
  const size_t block = static_cast<size_t>(std::min<uint64_t>(covered, kReadBlock));
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(std::max<size_t>(block, 1));
  file.Seek(0, CFile::begin);
  uint32_t crc = 0;
  uint64_t done = 0;
  while (done < covered) {
    const auto want = static_cast<uint32_t>(std::min<uint64_t>(block, covered - done));
    uint32_t got = 0;
    while (got < want) {
      const uint32_t n = file.Read(buffer.get() + got, want - got);
      // The file is shorter than its own length said (cut while we read).
      if (n == 0) CFileException::ThrowOsError(plat::ERROR_HANDLE_EOF, file.GetFilePath());
      got += n;
    }
    if (done == 0) {
      // The first block holds the image's headers (it is at least 4 KiB
      // unless the file is smaller).
      const size_t head = static_cast<size_t>(std::min<uint64_t>(imageLength, got));
      if (const auto fields = FindSigningFields(buffer.get(), head)) {
        std::memset(buffer.get() + fields->checksum, 0, 4);
        std::memset(buffer.get() + fields->certificateEntry, 0, kDirectoryEntrySize);
      }
    }
    crc = UpdatePackageCrc(crc, buffer.get(), got);
    done += got;
  }
  return crc;
}

PackageCrcResult CheckPackageCrc(CFile& file, int32_t markerDistance,
                                 const PackageTrailer& trailer) {
  PackageCrcResult result;
  result.recorded = static_cast<uint32_t>(trailer.reserved);
  if (result.recorded == 0) return result;
  const std::optional<uint64_t> covered = CoveredLength(file.GetLength(), markerDistance, trailer);
  if (!covered) {
    result.verdict = PackageCrcVerdict::Damaged;
    return result;
  }
  result.covered = *covered;
  result.computed = ComputePackageCrc(file, *covered, uint64_t(trailer.libraryStart));
  result.verdict = result.computed == result.recorded ? PackageCrcVerdict::Intact
                                                      : PackageCrcVerdict::Damaged;
  return result;
}

}  // namespace setup
