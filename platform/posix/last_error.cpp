// POSIX system calls: the thread's last-error value and errno mapped to it.
#include "platform/last_error.h"
#include "platform/posix/errno_map.h"

#include <cerrno>
#include <sys/stat.h>

#include "platform/posix/posix_support.h"

namespace plat {
namespace {
thread_local uint32_t t_lastError = ERROR_SUCCESS;
}

uint32_t GetLastError() { return t_lastError; }
void SetLastError(uint32_t code) { t_lastError = code; }

uint32_t ErrnoToWin32(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    // A file in use (a running program, a busy mount) is what Windows calls
    // a sharing violation.
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EWOULDBLOCK: return ERROR_LOCK_VIOLATION;
    case EINVAL:
    case EFAULT:
    case E2BIG: return ERROR_INVALID_PARAMETER;
    case ESPIPE:
    case EOVERFLOW: return ERROR_SEEK;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    case ENOSYS: return ERROR_CALL_NOT_IMPLEMENTED;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ECHILD: return ERROR_WAIT_NO_CHILDREN;
    case EILSEQ: return ERROR_NO_UNICODE_TRANSLATION;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM: return ERROR_NOT_READY;
    default: return ERROR_GEN_FAILURE;
  }
}

uint32_t SetLastErrorFromErrno(int err) {
  uint32_t code = ErrnoToWin32(err);
  SetLastError(code);
  return code;
}

namespace posix {

uint32_t SetLastErrorForPath(int err, const std::string& nativePath) {
  uint32_t code = ErrnoToWin32(err);
  if (err == ENOENT) {
    struct stat st{};
    std::string parent = NativeParent(nativePath);
    if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) code = ERROR_PATH_NOT_FOUND;
  }
  SetLastError(code);
  return code;
}

uint32_t SetLastErrorForResolved(int err, const ResolvedPath& resolved) {
  if (err != ENOENT || !resolved.parentKnown) return SetLastErrorForPath(err, resolved.native);
  SetLastError(ERROR_FILE_NOT_FOUND);
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace posix

WString FormatSystemMessage(uint32_t code) { return SystemMessageText(code); }

}  // namespace plat
