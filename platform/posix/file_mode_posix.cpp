// POSIX system calls: the execute bits of a file.
#include <sys/stat.h>

#include <cerrno>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/resolve_path.h"

namespace plat {

bool SetExecutable(WStringView path) {
  const std::string native = ResolveNativePath(path);
  struct stat st {};
  if (stat(native.c_str(), &st) != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  // An execute bit for each class that may read the file.
  mode_t mode = st.st_mode & 07777;
  if (mode & S_IRUSR) mode |= S_IXUSR;
  if (mode & S_IRGRP) mode |= S_IXGRP;
  if (mode & S_IROTH) mode |= S_IXOTH;
  if (chmod(native.c_str(), mode) != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

}  // namespace plat
