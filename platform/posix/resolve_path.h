// The POSIX stand-in for names that compare without regard to case, as on
// Windows (which needs none): path components that do not exist exactly are
// resolved by a case-insensitive match in their directory.
#pragma once
#include <sys/stat.h>

#include <cerrno>
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

namespace posix {

// A resolution together with what it learnt on the way, so that the call
// that asked need not look at the same names again.
struct ResolvedPath {
  std::string native;  // empty when refused
  uint32_t refusal = 0;  // why, when the resolution itself refused the name
  // Whether the lstat() of native was taken: then `exists` and `self` say
  // what stood under the name a moment ago.
  bool selfKnown = false;
  bool exists = false;
  struct stat self {};
  int missingErrno = ENOENT;  // why lstat() failed, when it did
  // Whether the lstat() of native's directory was taken, and found one
  // (not a link): the directory a new name would be created in.
  bool parentKnown = false;
  struct stat parent {};
};
// An empty native path (ERROR_STOPPED_ON_SYMLINK) when a component that the
// resolution looks at (the name itself, its directory, or any component it
// walks) is a link owned by another user than us or root.
ResolvedPath Resolve(WStringView path);

// The entry of directory that equals name without regard to case (the
// smallest such name), only when it is the current user's own.
bool FindNameNoCase(const std::string& directory, const std::string& name, std::string* found);

// What stat() says of a resolved path: from the resolution when the name
// is no link, else asked. False with errno set when it does not exist.
bool StatResolved(const ResolvedPath& resolved, struct stat* st);
// What lstat() says of a resolved path, likewise.
bool LstatResolved(const ResolvedPath& resolved, struct stat* st);

}  // namespace posix
}  // namespace plat
