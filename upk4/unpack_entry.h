// One entry unpacked as the library's UPK4_Unpack unpacks it, with its
// result codes: 0 done; -2 damaged or incomplete data, a wrong or missing
// password, a CRC-32 mismatch; else the system's error code (a refused name
// gives ERROR_INVALID_NAME or ERROR_FILENAME_EXCED_RANGE). Shared by the
// exports and the tools that extract whole archives without them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include "upk4/entry_extraction.h"

class Archive;

// The library's transfer sizes: chunks of 65,535 bytes, four at a time
// (its callback never stops an extraction).
inline constexpr uint32_t kUnpackChunkSize = 65535;
inline constexpr uint32_t kUnpackChunksPerTransfer = 4;

// A system error as an unpack result: 2 there means "no such entry", so the
// system's ERROR_FILE_NOT_FOUND (a directory of the target missing, a name
// the system cannot create) is reported as the path it is. Also sets the
// thread's last error.
int32_t SystemResult(uint32_t error);

struct UnpackRequest {
  const char16_t* destDir = nullptr;
  const char16_t* fileName = nullptr;  // null: the entry's own name
  bool fullPath = false;               // the directories of the name below destDir
  // destDir exists: nothing probes or makes it (see ExtractEntry).
  bool destinationMade = false;
  ExtractProgressCallback callback = nullptr;
  void* userData = nullptr;
};

// Unpacks the entry at index. Never throws: whatever is raised is -2.
// brokenOff is set when the extraction broke off inside the entry (after its
// local header was read), which the library's close reports.
int32_t UnpackEntry(const Archive& archive, uint16_t index,
                    const std::optional<std::string>& password, const UnpackRequest& request,
                    Transfer& transfer, bool& brokenOff);
