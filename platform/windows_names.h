// Names that Windows gives another meaning: a stream after ":", the devices
// (CON, NUL, COM1, ...) in any directory and with any extension, and the
// trailing dots and blanks that it strips, so that "a." and "a" are one
// file. The rule itself is the same everywhere, so that a package built on
// Linux for Windows is checked as Windows will see it; only Windows builds
// (and package builds for Windows) apply it to what they create.
#pragma once
#include <optional>
#include "platform/win_types.h"

namespace plat {

// True in the Windows builds, where extraction refuses such names; POSIX
// keeps them as ordinary file names.
#if defined(_WIN32)
inline constexpr bool kWindowsNamesApply = true;
#else
inline constexpr bool kWindowsNamesApply = false;
#endif

// Why a relative name (components separated by "\" or "/") would not name
// the file it says on Windows, or nothing when every component is fine:
// a text such as "\"aux\" is a device name". Empty components and "." or
// ".." are left to the caller's own checks.
std::optional<WString> WindowsNameProblem(WStringView name);

}  // namespace plat
