// The machine of a Windows image, so that a package for one Windows target
// is never made from the binaries of another.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "pack_options.h"
#include "platform/win_types.h"

namespace upkpack {

inline constexpr uint16_t kMachineI386 = 0x014C;
inline constexpr uint16_t kMachineAmd64 = 0x8664;

// The COFF machine field of a PE image (MZ header, e_lfanew, "PE\0\0");
// nothing when the bytes are not a PE image.
std::optional<uint16_t> PeMachine(const std::string& headerBytes);

// For a Windows target, throws PackError unless each of the four inputs is
// a PE image for the target's machine. Nothing for the native target.
void CheckWindowsInputs(const PackOptions& options);

// Throws PackError for a payload name that Windows would take for something
// else (a stream after ":", a device name such as "aux" or "nul.txt" in any
// component, a component ending in a dot or a blank): extraction on Windows
// refuses such names, so the package could never be installed whole.
void CheckWindowsPayloadName(plat::WStringView name);

// Where a run keeps the payload on Windows, at its longest usual form:
// "C:\Users\" + a user name of 20 characters (the most Windows allows) +
// "\AppData\Local\Temp\SetupTemp199\", 62 characters. (SYSTEM's
// "C:\Windows\SystemTemp\SetupTemp199\" is shorter.)
inline constexpr size_t kTypicalRunDirectoryLength = 62;
// Without long-path support Windows takes a file's full path only below
// MAX_PATH (260 characters with the terminating NUL) and a directory's only
// below 248 (room for an 8.3 name in it).
inline constexpr size_t kMaxPathWithoutLongPaths = 260;
inline constexpr size_t kMaxDirectoryWithoutLongPaths = 248;

// A warning text when the name (relative, "/" or "\" separators, "/" at the
// end of a directory), joined under a run directory of the typical length,
// reaches either limit: that payload needs long-path support (Windows 10
// 1607 or later with long paths enabled). Empty when it fits.
std::string LongPathWarning(plat::WStringView name, bool directory);

}  // namespace upkpack
