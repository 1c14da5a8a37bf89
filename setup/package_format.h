// The package format at the end of a Setup file, shared by Setup, the second
// stage (which re-reads the package) and the package builder:
//
//   Setup image | upk4 image [libraryStart, libraryEnd) | (archive) |
//   config block (scrambled) | PackageTrailer (28 bytes) | marker | any bytes
//
// Everything after the library is located relative to the marker, which is
// searched in the last kMarkerWindow bytes of the file.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include "upk4.h"

namespace setup {

inline constexpr size_t kMarkerLength = 14;
// The marker is searched in this many bytes at the end of the file.
inline constexpr uint32_t kMarkerWindow = 30720;
inline constexpr uint32_t kTrailerSize = 28;
// The config block is read only when it is shorter than this.
inline constexpr int32_t kConfigLimit = 6144;
// Key byte of the config block's XOR scrambling.
inline constexpr uint8_t kConfigKey = 0xA5;
// Any of these package flags (the open flags that Setup hands to UPK4_Open)
// means the config block is to be read.
inline constexpr int32_t kConfigFlags =
    static_cast<int32_t>(UPK4_OPEN_PATTERN1 | UPK4_OPEN_PATTERN2 | UPK4_OPEN_PLAIN);
inline constexpr char kConfigSeparator = '|';

// The marker text, assembled at run time from three pieces so that no
// program image (Setup, the second stage, the builder) carries it whole and
// the search in a package can never hit the code that searches.
std::string AssembleMarker();

// Seven little-endian signed 32-bit fields, in file order.
struct PackageTrailer {
  int32_t configLength = 0;
  int32_t libraryStart = 0;
  int32_t libraryEnd = 0;
  int32_t openValue = 0;
  int32_t packageFlags = 0;
  int32_t reserved = 0;
  int32_t initValue = 0;

  static PackageTrailer Parse(const uint8_t* bytes);  // kTrailerSize bytes
  std::array<uint8_t, kTrailerSize> Serialize() const;
  bool ConfigWanted() const {
    return (packageFlags & kConfigFlags) != 0 && configLength < kConfigLimit;
  }
  // libraryStart + libraryEnd as the second stage receives it (wraps like
  // the 32-bit sum it is, instead of overflowing).
  int32_t LibrarySum() const {
    return static_cast<int32_t>(static_cast<uint32_t>(libraryStart) +
                                static_cast<uint32_t>(libraryEnd));
  }
};

}  // namespace setup
