// Windows-form paths at the core, native paths at the system. On POSIX a
// path "\tmp\x" is "/tmp/x"; both separators are accepted on the way out.
// On Windows the native path is the path itself, as UTF-8.
#pragma once
#include <string>
#include "platform/win_types.h"

namespace plat {

// "\" and "/" become "/", UTF-16 becomes UTF-8. No case resolution.
std::string ToNativePath(WStringView path);
// "/" becomes "\", UTF-8 becomes UTF-16.
WString FromNativePath(std::string_view native);

inline bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace plat
