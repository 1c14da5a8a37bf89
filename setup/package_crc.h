// The package's own check against damaged and cut-short downloads. The
// builder records the CRC-32 of every byte before the config block (the
// Setup image, the upk4 image and an archive inside) in the trailer's
// `reserved` field; 0 there means that no check was recorded. Setup checks
// it before it copies or loads anything out of its file.
//
// A Windows image's checksum and its certificate-table entry count as zero
// bytes: signing the package after it was built rewrites exactly these two
// header fields (the signature itself goes after the marker, outside the
// covered bytes), and a signed package must stay valid.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include "framework/file.h"
#include "setup/package_format.h"

namespace setup {

// The covered bytes are [0, CoveredLength): up to the config block's first
// byte. None when the trailer's fields leave no room for them in a file of
// this length (a negative config length, a config block that would reach
// into the library or before the file's start).
std::optional<uint64_t> CoveredLength(uint64_t fileLength, int32_t markerDistance,
                                      const PackageTrailer& trailer);

// Where signing writes inside a Windows image, found from the image's own
// headers in its first bytes: the optional header's CheckSum (4 bytes) and
// the certificate table's data-directory entry (8 bytes). None for any other
// image (ELF), or when the headers do not lie whole in `head`.
struct SigningFields {
  size_t checksum = 0;
  size_t certificateEntry = 0;
};
// Only so many bytes of the image are looked at for its headers.
inline constexpr size_t kSigningHeadLimit = 4096;
std::optional<SigningFields> FindSigningFields(const uint8_t* head, size_t length);

// CRC-32 (polynomial 0xEDB88320, as zlib's crc32) of size bytes continued
// from crc: ISA-L's carry-less multiplication where the build has it (bound
// at run time, never linked), zlib's otherwise.
uint32_t UpdatePackageCrc(uint32_t crc, const uint8_t* data, size_t size);

// The CRC-32 of the first `covered` bytes of the file, the signing fields
// of an image of `imageLength` bytes (libraryStart) read as zeros. Reads in
// large blocks; a file that ends early or cannot be read throws
// CFileException; the buffer's allocation can throw std::bad_alloc.
uint32_t ComputePackageCrc(CFile& file, uint64_t covered, uint64_t imageLength);

enum class PackageCrcVerdict {
  NotRecorded,  // reserved is 0: nothing to check
  Intact,
  Damaged,      // the CRC-32 differs, or the fields leave no covered bytes
};
struct PackageCrcResult {
  PackageCrcVerdict verdict = PackageCrcVerdict::NotRecorded;
  uint32_t recorded = 0;
  uint32_t computed = 0;
  uint64_t covered = 0;  // bytes read; 0 when the fields did not fit
};
// Checks a package whose trailer was read and checked (ReadTrailer). Read
// errors propagate as CFileException.
PackageCrcResult CheckPackageCrc(CFile& file, int32_t markerDistance,
                                 const PackageTrailer& trailer);

}  // namespace setup
