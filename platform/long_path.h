// The extended-length form of a Windows path ("\\?\C:\..." and
// "\\?\UNC\server\share\..."), which lets file operations take names past
// MAX_PATH. That form skips the system's own normalisation, so it is made
// here, in one place, only from a full path whose every component is a plain
// name: separators unified, "." and ".." taken out, never for a device name.
#pragma once
#include "platform/win_types.h"

namespace plat {

// Paths at least this long are given in the extended form (CreateDirectory
// stops 12 characters short of MAX_PATH, to leave room for an 8.3 name).
inline constexpr size_t kExtendedPathFrom = 248;

// The path as the system should be given it: unchanged when shorter than
// kExtendedPathFrom, relative, already extended, or holding a component that
// the extended form would take differently (a device name, a trailing dot or
// blank); else the extended form.
WString SystemPathForm(WStringView path);

// Whether a path component names a device on Windows ("CON", "nul.txt",
// "COM1", "LPT9.log", in any case).
bool IsDeviceName(WStringView component);

}  // namespace plat
