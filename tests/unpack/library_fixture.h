// libupk4.so loaded by path, as Setup loads it, with only its four exports
// bound; and small helpers for calling them with native strings.
#pragma once
#include <string>
#include "upk4.h"
#include "platform/win_types.h"
#include "test_support.h"

struct Upk4Exports {
  UPK4_Open_t Open = nullptr;
  UPK4_Unpack_t Unpack = nullptr;
  UPK4_Close_t Close = nullptr;
  UPK4_SetProgress_t SetProgress = nullptr;
};

// Loads the library once per process from $UPK_BUILD_DIR/lib/libupk4.so.
// Fails the calling test when it cannot be loaded or bound.
const Upk4Exports& Upk4();
std::string LibraryPath();

// Native paths reach the exports through upktest::WinPath.
using upktest::WinPath;

// Opens a plain path (flags 4); null on failure.
ArchiveHandle* OpenPlain(const std::string& archive, const std::string& password = "");
// Opens, extracts one entry into destDir under its own name, closes.
int32_t UnpackOne(const std::string& archive, const std::string& entry,
                  const std::string& destDir, const std::string& password = "");
