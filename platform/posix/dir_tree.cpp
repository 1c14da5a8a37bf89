// POSIX system calls: removal of the bootstrapper's temporary directory
// trees, never following links, and the advisory in-use lock that keeps one
// run from sweeping away the directory of another that is still alive.
#include "platform/dir_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/posix_support.h"

namespace plat {
namespace {

constexpr int kMaxDepth = 256;

std::string LockFileName() { return Utf16ToUtf8(kDirectoryLockName); }

class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

// Records the first failure; later ones do not overwrite it.
void NoteError(int err, bool* failed) {
  if (!*failed) SetLastErrorFromErrno(err);
  *failed = true;
}

std::vector<std::string> ListNames(int dirFd) {
  std::vector<std::string> names;
  int copy = ::dup(dirFd);
  if (copy < 0) return names;
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    ::close(copy);
    return names;
  }
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

// Unlinks name in dirFd; when the directory's own write bit is what stops
// it, grants that bit once and retries.
bool UnlinkEntry(int dirFd, const std::string& name, int flags) {
  if (::unlinkat(dirFd, name.c_str(), flags) == 0) return true;
  if (errno != EACCES && errno != EPERM) return false;
  struct stat st{};
  if (::fstat(dirFd, &st) != 0) return false;
  if ((st.st_mode & S_IWUSR) && (st.st_mode & S_IXUSR)) return false;
  if (::fchmod(dirFd, (st.st_mode & 07777) | S_IRWXU) != 0) return false;
  return ::unlinkat(dirFd, name.c_str(), flags) == 0;
}

int OpenSubdirectory(int dirFd, const std::string& name) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(dirFd, name.c_str(), flags);
  if (fd < 0 && errno == EACCES && ::fchmodat(dirFd, name.c_str(), 0700, 0) == 0) {
    fd = ::openat(dirFd, name.c_str(), flags);
  }
  return fd;
}

// Empties the directory, deepest entries first. Links are entries like any
// other: unlinked, never entered.
void RemoveContents(int dirFd, int depth, bool* failed) {
  if (depth > kMaxDepth) {
    NoteError(ENAMETOOLONG, failed);
    return;
  }
  for (const std::string& name : ListNames(dirFd)) {
    struct stat st{};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) NoteError(errno, failed);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      Fd sub(OpenSubdirectory(dirFd, name));
      if (sub.get() < 0) {
        NoteError(errno, failed);
        continue;
      }
      RemoveContents(sub.get(), depth + 1, failed);
      if (!UnlinkEntry(dirFd, name, AT_REMOVEDIR) && errno != ENOENT) NoteError(errno, failed);
    } else if (!UnlinkEntry(dirFd, name, 0) && errno != ENOENT) {
      NoteError(errno, failed);
    }
  }
}

}  // namespace

bool DeleteTree(WStringView path) {
  std::string native = ResolveNativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  struct stat st{};
  if (native.empty() || ::lstat(native.c_str(), &st) != 0) {
    SetLastError(ERROR_SUCCESS);
    return true;  // nothing there: the tree is gone
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlink(native.c_str()) != 0) {
      posix::SetLastErrorForPath(errno, native);
      return false;
    }
    return true;
  }

  Fd dir(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.get() < 0) {
    posix::SetLastErrorForPath(errno, native);
    return false;
  }
  // Holding the in-use lock ourselves for the whole removal both tells
  // whether a live run owns the directory and keeps one from taking it now.
  Fd lock(::openat(dir.get(), LockFileName().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (lock.get() >= 0 && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }

  bool failed = false;
  RemoveContents(dir.get(), 0, &failed);
  if (::rmdir(native.c_str()) != 0 && errno != ENOENT) NoteError(errno, &failed);
  if (::lstat(native.c_str(), &st) == 0) {
    if (!failed) SetLastError(ERROR_DIR_NOT_EMPTY);
    return false;
  }
  return true;
}

bool IsOwnedByCurrentUser(WStringView path) {
  std::string native = ResolveNativePath(path);
  struct stat st{};
  if (::lstat(native.c_str(), &st) != 0) {
    posix::SetLastErrorForPath(errno, native);
    return false;
  }
  return st.st_uid == ::geteuid();
}

struct DirectoryLock::State {
  int fd = -1;
};

DirectoryLock::DirectoryLock() = default;
DirectoryLock::~DirectoryLock() { Release(); }

bool DirectoryLock::Acquire(WStringView directory) {
  Release();
  std::string native = posix::NativeJoin(ResolveNativePath(directory), LockFileName());
  int fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    posix::SetLastErrorForPath(errno, native);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    ::close(fd);
    SetLastError(err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrnoToWin32(err));
    return false;
  }
  m_state = std::make_unique<State>();
  m_state->fd = fd;
  return true;
}

void DirectoryLock::Release() {
  if (!m_state) return;
  ::flock(m_state->fd, LOCK_UN);
  ::close(m_state->fd);
  m_state.reset();
}

}  // namespace plat
