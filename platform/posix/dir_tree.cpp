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
  // The mode is granted to what stands under the name without following a
  // link there: one swapped in since the listing is never changed.
  if (fd < 0 && errno == EACCES &&
      ::fchmodat(dirFd, name.c_str(), 0700, AT_SYMLINK_NOFOLLOW) == 0) {
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

bool IsPrivateDirectory(WStringView path) {
  std::string native = ResolveNativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  struct stat st{};
  if (native.empty() || ::lstat(native.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

struct DirectoryLock::State {
  State(int dirFd, int lockFd) : fd(lockFd), directory(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0)) {
    struct stat st{};
    if (directory >= 0 && ::fstat(directory, &st) == 0) {
      device = st.st_dev;
      inode = st.st_ino;
    }
  }
  ~State() {
    if (directory >= 0) ::close(directory);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  int fd;  // the lock file, open while this process holds the lock
  // The directory itself, open for as long as the identity is asked for:
  // a removed directory's inode number is free for the next directory made
  // (another run's, under the same name) unless something still holds it.
  int directory;
  uint64_t device = 0;
  uint64_t inode = 0;
};

DirectoryLock::DirectoryLock() = default;
DirectoryLock::~DirectoryLock() { Release(); }

namespace {

// Opens (creating when asked) the lock file in the directory and locks it.
// Not close-on-exec: the programs the run starts inherit the lock.
int LockInside(int dirFd, bool create) {
  const int flags = O_RDWR | O_NOFOLLOW | (create ? O_CREAT | O_EXCL : O_CREAT);
  int fd = ::openat(dirFd, LockFileName().c_str(), flags, 0600);
  if (fd < 0) {
    SetLastErrorFromErrno(errno);
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    ::close(fd);
    SetLastError(err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrnoToWin32(err));
    return -1;
  }
  return fd;
}

}  // namespace

bool DirectoryLock::CreateLocked(WStringView directory) {
  Release();
  std::string native = ResolveNativePath(directory);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  // Made and locked under a fresh name of its own, then renamed into place
  // without replacing anything: the name appears only with the lock held.
  std::string staging = posix::NativeJoin(posix::NativeParent(native), ".SetupTemp-XXXXXX");
  if (::mkdtemp(staging.data()) == nullptr) {
    posix::SetLastErrorForPath(errno, staging);
    return false;
  }
  Fd dir(::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  int fd = dir.get() < 0 ? -1 : LockInside(dir.get(), true);
  int err = 0;
  if (fd >= 0 && ::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, native.c_str(),
                             RENAME_NOREPLACE) != 0) {
    err = errno;
    // A file system without the no-replace form: a plain rename replaces
    // at most an empty directory of our own (a directory of a live run holds
    // its lock file, another user's is protected by the sticky bit).
    if ((err == EINVAL || err == ENOSYS) &&
        ::rename(staging.c_str(), native.c_str()) == 0) {
      err = 0;
    }
  }
  if (fd < 0 || err != 0) {
    const uint32_t error = fd < 0 ? GetLastError()
                           : (err == EEXIST || err == ENOTEMPTY || err == ENOTDIR || err == EPERM)
                               ? ERROR_ALREADY_EXISTS
                               : ErrnoToWin32(err);
    if (fd >= 0) ::close(fd);
    if (dir.get() >= 0) ::unlinkat(dir.get(), LockFileName().c_str(), 0);
    ::rmdir(staging.c_str());
    SetLastError(error);
    return false;
  }
  posix::NoteFileCreated(native, nullptr);
  m_state = std::make_unique<State>(dir.get(), fd);
  return true;
}

bool DirectoryLock::Acquire(WStringView directory) {
  Release();
  std::string native = ResolveNativePath(directory);
  if (native.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  Fd dir(::open(native.c_str(),
                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.get() < 0) {
    posix::SetLastErrorForPath(errno, native);
    return false;
  }
  const int fd = LockInside(dir.get(), false);
  if (fd < 0) return false;
  m_state = std::make_unique<State>(dir.get(), fd);
  return true;
}

bool DirectoryLock::IsHeld() const { return m_state && m_state->fd >= 0; }

bool DirectoryLock::IsUnprotected() const { return false; }  // modes everywhere

bool DirectoryLock::Names(WStringView path) const {
  if (!m_state || m_state->inode == 0) return false;
  std::string native = ResolveNativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  struct stat st{};
  return !native.empty() && ::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_dev == m_state->device && st.st_ino == m_state->inode;
}

void DirectoryLock::Release() {
  if (!m_state || m_state->fd < 0) return;
  // Closed, not unlocked: an unlock would also take the lock from a setup
  // program that inherited it and still runs in the directory. The identity
  // stays for Names.
  ::close(m_state->fd);
  m_state->fd = -1;
}

}  // namespace plat
