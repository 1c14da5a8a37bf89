// The POSIX stand-in for names that compare without regard to case, as on
// Windows (which needs none): path components that do not exist exactly are
// resolved by a case-insensitive match in their directory.
#pragma once
#include <string>
#include "platform/win_types.h"

namespace plat {

// A path with a NUL inside names nothing: it resolves to the empty string
// (ERROR_INVALID_NAME), so every file operation refuses it instead of acting
// on the name up to the NUL.
//
// The native path with every component that does not exist exactly replaced
// by the first case-insensitive match in its directory. Components that
// match nothing are kept as given (so the result names where a new file
// would be created).
std::string ResolveNativePath(WStringView path);

}  // namespace plat
