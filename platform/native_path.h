// Windows-form paths at the core, native paths at the system. On POSIX a
// path "\tmp\x" is "/tmp/x"; both separators are accepted on the way out.
// Path components that do not exist exactly are resolved by a
// case-insensitive match in their directory, as on Windows.
#pragma once
#include <string>
#include "platform/win_types.h"

namespace plat {

// "\" and "/" become "/", UTF-16 becomes UTF-8. No case resolution.
std::string ToNativePath(WStringView path);
// "/" becomes "\", UTF-8 becomes UTF-16.
WString FromNativePath(std::string_view native);

// A path with a NUL inside names nothing: it resolves to the empty string
// (ERROR_INVALID_NAME), so every file operation refuses it, on every system
// alike, instead of acting on the name up to the NUL.
//
// The native path with every component that does not exist exactly replaced
// by the first case-insensitive match in its directory. Components that
// match nothing are kept as given (so the result names where a new file
// would be created).
std::string ResolveNativePath(WStringView path);

inline bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace plat
