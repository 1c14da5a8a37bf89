// POSIX system calls: the walk below a chosen directory, one component at a
// time with openat(O_NOFOLLOW | O_DIRECTORY), creating with mkdirat and
// openat, so that no symbolic link below the base is ever passed through,
// whoever made it and whenever it appeared. (glibc has no openat2 wrapper;
// the walk works on every kernel.)
#include "platform/beneath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/posix_support.h"

namespace plat {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(-1); }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The components of a relative Windows-form name, in UTF-8; false for "..".
bool SplitComponents(WStringView relative, std::vector<std::string>* out) {
  const std::string native = ToNativePath(relative);
  size_t start = 0;
  while (start <= native.size()) {
    size_t end = native.find('/', start);
    if (end == std::string::npos) end = native.size();
    std::string component = native.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") continue;
    if (component == "..") return false;
    out->push_back(std::move(component));
  }
  return true;
}

// The directory that the walk stands in: its descriptor, and a path to it
// for the listings of the case-insensitive lookup (only ever used to find
// a name, which is then opened relative to the descriptor).
struct Position {
  Descriptor dir;
  std::string path;
};

bool IsLinkAt(int dir, const std::string& name) {
  struct stat st {};
  return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// The name in the directory as it stands there: exactly, else the user's
// own case-insensitive match, else the name as given (a new one).
std::string NameIn(const Position& at, const std::string& name) {
  struct stat st {};
  if (::fstatat(at.dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
  std::string found;
  if (posix::FindNameNoCase(at.path, name, &found)) return found;
  return name;
}

// Steps into the directory `name` below the current position, making it
// when it is missing.
bool StepDown(Position& at, const std::string& wanted) {
  const std::string name = NameIn(at, wanted);
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = ::openat(at.dir.Get(), name.c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      at.dir.Reset(fd);
      at.path = posix::NativeJoin(at.path, name);
      return true;
    }
    const int err = errno;
    if (err == EINTR) continue;
    if (err == ELOOP || ((err == ENOTDIR) && IsLinkAt(at.dir.Get(), name))) {
      SetLastError(ERROR_STOPPED_ON_SYMLINK);
      return false;
    }
    if (err == ENOTDIR) {  // a file in the way, as Windows reports it
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    if (err != ENOENT) {
      SetLastErrorFromErrno(err);
      return false;
    }
    struct stat parentBefore {};
    const bool parentKnown = ::fstat(at.dir.Get(), &parentBefore) == 0;
    if (::mkdirat(at.dir.Get(), name.c_str(), 0777) == 0) {
      posix::NoteFileCreated(posix::NativeJoin(at.path, name), parentKnown ? &parentBefore : nullptr);
    } else if (errno != EEXIST) {  // made by someone else meanwhile: opened as above
      SetLastErrorFromErrno(errno);
      return false;
    }
  }
  SetLastError(ERROR_PATH_NOT_FOUND);
  return false;
}

// Opens base (followed: the caller's choice) and walks down through the
// first `count` components.
bool Walk(WStringView base, const std::vector<std::string>& components, size_t count,
          Position& at) {
  const posix::ResolvedPath resolved = posix::Resolve(base.empty() ? WStringView(u".") : base);
  if (resolved.native.empty()) {
    SetLastError(resolved.refusal ? resolved.refusal : ERROR_PATH_NOT_FOUND);
    return false;
  }
  const int fd = ::open(resolved.native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    posix::SetLastErrorForResolved(errno, resolved);
    if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  at.dir.Reset(fd);
  at.path = resolved.native;
  for (size_t i = 0; i < count; ++i) {
    if (!StepDown(at, components[i])) return false;
  }
  return true;
}

}  // namespace

bool CreateDirectoriesBeneath(WStringView base, WStringView relative) {
  std::vector<std::string> components;
  if (!SplitComponents(relative, &components)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  Position at;
  return Walk(base, components, components.size(), at);
}

struct BeneathCursor::State {
  WString base;
  std::vector<std::string> directories;  // the components walked through
  Position at;                           // where that walk ended
};
BeneathCursor::BeneathCursor() = default;
BeneathCursor::~BeneathCursor() = default;

namespace {

// The new file named in the directory the walk reached; kInvalidFile with
// the last error set, and *gone when the directory itself has been removed.
FileHandle CreateFileIn(const Position& at, const std::string& wanted, bool* gone) {
  const std::string name = NameIn(at, wanted);
  struct stat st {};
  if (::fstatat(at.dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return kInvalidFile;
    }
    // Replaced, never rewritten: a link goes itself, and a file that a
    // running program maps keeps its image.
    if (::unlinkat(at.dir.Get(), name.c_str(), 0) != 0 && errno != ENOENT) {
      SetLastErrorFromErrno(errno);
      return kInvalidFile;
    }
  }
  struct stat parentBefore {};
  const bool parentKnown = ::fstat(at.dir.Get(), &parentBefore) == 0;
  int fd;
  do {
    fd = ::openat(at.dir.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == EEXIST) {
      SetLastError(ERROR_FILE_EXISTS);
    } else {
      // With O_CREAT, a name that is not there means the directory
      // itself was removed.
      *gone = errno == ENOENT;
      SetLastErrorFromErrno(errno);
    }
    return kInvalidFile;
  }
  posix::NoteFileCreated(posix::NativeJoin(at.path, name), parentKnown ? &parentBefore : nullptr);
  SetLastError(ERROR_SUCCESS);
  return fd;
}

}  // namespace

FileHandle CreateFileBeneath(WStringView base, WStringView relative, BeneathCursor* cursor) {
  std::vector<std::string> components;
  if (!SplitComponents(relative, &components) || components.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return kInvalidFile;
  }
  const std::string file = std::move(components.back());
  components.pop_back();
  BeneathCursor::State* kept = cursor ? cursor->m_state.get() : nullptr;
  bool gone = false;
  if (kept && kept->base == base && kept->directories == components) {
    const FileHandle fd = CreateFileIn(kept->at, file, &gone);
    if (!gone) return fd;
    cursor->m_state.reset();  // removed since: walked to afresh
  }
  Position at;
  if (!Walk(base, components, components.size(), at)) return kInvalidFile;
  const FileHandle fd = CreateFileIn(at, file, &gone);
  if (cursor) {
    if (!cursor->m_state) cursor->m_state = std::make_unique<BeneathCursor::State>();
    BeneathCursor::State& state = *cursor->m_state;
    state.base = WString(base);
    state.directories = std::move(components);
    state.at.dir.Reset(at.dir.Release());
    state.at.path = std::move(at.path);
  }
  return fd;
}

}  // namespace plat
