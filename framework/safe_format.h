// A printf-style formatter that substitutes only integer conversions
// (%d %i %u %x %X, with flags, width, precision and the length modifiers
// l/ll/h) and %%. Any other % sequence is copied literally, and a conversion
// for which no argument is left is copied literally too, so text from a
// package or a path ("Setup (100%).exe", "%s", "%n") never reaches a C
// formatter.
#pragma once
#include <cstdint>
#include <initializer_list>
#include "platform/win_types.h"

plat::WString FormatIntegers(plat::WStringView pattern, std::initializer_list<int64_t> args);

// FormatIntegers on the file-name part of a path only: the directory part
// (where the user saved a package, "dl%20x") is never a pattern.
plat::WString FormatFileNamePart(plat::WStringView path, std::initializer_list<int64_t> args);
