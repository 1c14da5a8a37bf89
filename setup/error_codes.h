// Setup's own codes in the error list, one for each kind of failure of the
// preparation. The list also takes system codes (1168, 1602, 1603: see
// exit_codes.h), each with the last-error value of its moment.
#pragma once
#include <cstdint>

namespace setup {

inline constexpr int32_t kOwnFileUnreadable = 1;  // Setup's own file cannot be opened
inline constexpr int32_t kNoPackageMarker = 2;    // marker or trailer not found or unusable
inline constexpr int32_t kUpk2NotLoaded = 3;      // "upk2.dll" not extracted whole or not loadable
inline constexpr int32_t kUpk4NotLoaded = 4;      // "upk4.dll" cannot be loaded
inline constexpr int32_t kUpk2EntryMissing = 5;   // an entry point of upk2 is missing
inline constexpr int32_t kNoWorkBuffer = 6;       // no memory for the work buffer
inline constexpr int32_t kUpk4NotCopied = 7;      // "upk4.dll" cannot be created or written
inline constexpr int32_t kNoTempDirectory = 8;    // no free temporary directory name
inline constexpr int32_t kPackageDamaged = 9;     // the package's CRC-32 does not match

}  // namespace setup
