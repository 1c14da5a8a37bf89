// The POSIX stand-in for names that compare without regard to case, as on
// Windows (which needs none): path components that do not exist exactly are
// resolved by a case-insensitive match in their directory.
#pragma once
#include <string>
#include "platform/win_types.h"

namespace plat {

// The native path with every component that does not exist exactly replaced
// by the first case-insensitive match in its directory. Components that
// match nothing are kept as given (so the result names where a new file
// would be created).
std::string ResolveNativePath(WStringView path);

}  // namespace plat
