// POSIX system calls: file-system services with Win32 semantics.
#include "platform/file_system.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_handle.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/posix_support.h"

namespace plat {
namespace {

bool StatPath(WStringView path, std::string* native, struct stat* st) {
  const posix::ResolvedPath resolved = posix::Resolve(path);
  *native = resolved.native;
  if (native->empty()) {
    SetLastError(resolved.refusal ? resolved.refusal : ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (!posix::StatResolved(resolved, st)) {
    posix::SetLastErrorForResolved(errno, resolved);
    return false;
  }
  return true;
}

std::string LastNativeComponent(const std::string& native) {
  std::string path = native;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Removes what the copy left behind when it failed half-way, keeping the
// copy's error as the last error.
// Only a regular file is removed: a device named as the target stays.
void DiscardPartialCopy(int fd, const std::string& target) {
  uint32_t error = GetLastError();
  struct stat st{};
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (regular) ::unlink(target.c_str());
  SetLastError(error);
}

// The kernel marks a mapped file that was removed since; the name is
// still the one it was loaded from.
std::string WithoutDeletedMark(std::string file) {
  const std::string deleted = " (deleted)";
  if (file.size() > deleted.size() &&
      file.compare(file.size() - deleted.size(), deleted.size(), deleted) == 0) {
    file.resize(file.size() - deleted.size());
  }
  return file;
}

std::string CurrentNativeDirectory() {
  std::vector<char> buffer(PATH_MAX);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

}  // namespace

bool PathFileExists(WStringView path) {
  // A link is a name that exists, whether its target does or not, as on
  // Windows: it must be removed before the name is used. One lstat() says,
  // the one the resolution took.
  const posix::ResolvedPath resolved = posix::Resolve(path);
  if (resolved.native.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  struct stat st{};
  if (posix::LstatResolved(resolved, &st)) return true;
  posix::SetLastErrorForResolved(errno, resolved);
  return false;
}

uint32_t GetFileAttributes(WStringView path) {
  std::string native;
  struct stat st{};
  if (!StatPath(path, &native, &st)) return INVALID_FILE_ATTRIBUTES;
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (posix::IsReadOnlyMode(st.st_mode)) return FILE_ATTRIBUTE_READONLY;
  return FILE_ATTRIBUTE_NORMAL;
}

bool SetFileAttributes(WStringView path, uint32_t attributes) {
  const posix::ResolvedPath resolved = posix::Resolve(path);
  const std::string& native = resolved.native;
  struct stat st{};
  if (native.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  if (!posix::LstatResolved(resolved, &st)) {
    posix::SetLastErrorForResolved(errno, resolved);
    return false;
  }
  // A link has no attributes of its own here, and what it points to is not
  // the file that was named: nothing changes. A read-only directory on
  // Windows still takes new entries; on POSIX it would not, so READONLY is
  // left off directories.
  if (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
  // Without following: a link swapped in since the look is refused.
  if (wanted != mode && ::fchmodat(AT_FDCWD, native.c_str(), wanted, AT_SYMLINK_NOFOLLOW) != 0) {
    SetLastErrorFromErrno(errno == EOPNOTSUPP ? EACCES : errno);
    return false;
  }
  return true;
}

bool DeleteFile(WStringView path) {
  const posix::ResolvedPath resolved = posix::Resolve(path);
  const std::string& native = resolved.native;
  struct stat st{};
  if (native.empty() || !posix::LstatResolved(resolved, &st)) {
    if (native.empty()) SetLastError(ERROR_PATH_NOT_FOUND);
    else posix::SetLastErrorForResolved(errno, resolved);
    return false;
  }
  // Windows refuses directories and read-only files alike.
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && posix::IsReadOnlyMode(st.st_mode))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (::unlink(native.c_str()) != 0) {
    posix::SetLastErrorForPath(errno, native);
    return false;
  }
  return true;
}

// mkdir with the errors CreateDirectoryW gives; *native receives the path.
// mkdir never follows a link planted under the name: EEXIST.
static bool MakeDirectory(WStringView path, mode_t mode, std::string* native) {
  const posix::ResolvedPath resolved = posix::Resolve(path);
  *native = resolved.native;
  if (native->empty()) {
    SetLastError(resolved.refusal ? resolved.refusal : ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (::mkdir(native->c_str(), mode) != 0) {
    if (errno == EEXIST) SetLastError(ERROR_ALREADY_EXISTS);
    else posix::SetLastErrorForPath(errno == ENOENT ? ENOTDIR : errno, *native);
    return false;
  }
  posix::NoteFileCreated(*native, resolved.parentKnown ? &resolved.parent : nullptr);
  return true;
}

bool CreateDirectory(WStringView path) {
  std::string native;
  return MakeDirectory(path, 0777, &native);
}

bool CreatePrivateDirectory(WStringView path) {
  std::string native;
  if (!MakeDirectory(path, 0700, &native)) return false;
  // Check what now stands under the name through a descriptor, so a swap
  // after mkdir cannot make us change the mode of something else.
  int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  struct stat st{};
  bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
            ((st.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
  ::close(fd);
  if (!ok) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

bool RemoveDirectory(WStringView path) {
  std::string native = ResolveNativePath(path);
  if (native.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (::rmdir(native.c_str()) != 0) {
    int err = errno;
    if (err == ENOTEMPTY || err == EEXIST) SetLastError(ERROR_DIR_NOT_EMPTY);
    else if (err == ENOTDIR) SetLastError(ERROR_DIRECTORY);
    else posix::SetLastErrorForPath(err, native);
    return false;
  }
  return true;
}

bool CopyFile(WStringView from, WStringView to, bool failIfExists) {
  std::string source = ResolveNativePath(from);
  std::string target = ResolveNativePath(to);
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    posix::SetLastErrorForPath(errno, source);
    return false;
  }
  struct stat st{};
  if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(in);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // The target is created new, never written through a link or in place:
  // a link or file under its name is replaced, a read-only file or a
  // directory refuses, a device is written as it is.
  const FileHandle created =
      OpenFileHandle(to, FileAccess::Write, FileShare::Exclusive,
                     failIfExists ? FileCreate::CreateNew : FileCreate::CreateAlways);
  if (created == kInvalidFile) {
    const uint32_t error = GetLastError();
    ::close(in);
    SetLastError(error);
    return false;
  }
  const int out = static_cast<int>(created);
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastErrorFromErrno(errno);
      ::close(in);
      DiscardPartialCopy(out, target);
      return false;
    }
    if (n == 0) break;
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        SetLastErrorFromErrno(w < 0 ? errno : ENOSPC);
        ::close(in);
        DiscardPartialCopy(out, target);
        return false;
      }
      done += w;
    }
  }
  ::close(in);
  // CopyFile keeps the attributes and the last-write time (of a file, not
  // of a device it was asked to write to).
  struct stat copied{};
  bool regular = ::fstat(out, &copied) == 0 && S_ISREG(copied.st_mode);
  if (regular) {
    ::fchmod(out, st.st_mode & 0777);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out, times);
  }
  if (::close(out) != 0) {
    SetLastErrorFromErrno(errno);
    if (regular) ::unlink(target.c_str());
    return false;
  }
  return true;
}

bool MoveFileDelayUntilReboot(WStringView /*path*/) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

bool SetFileTimes(WStringView path, const CalendarTime* /*creation*/,
                  const CalendarTime* lastAccess, const CalendarTime* lastWrite) {
  std::string native = ResolveNativePath(path);
  struct timespec times[2];
  times[0].tv_sec = lastAccess ? static_cast<time_t>(*lastAccess) : 0;
  times[0].tv_nsec = lastAccess ? 0 : UTIME_OMIT;
  times[1].tv_sec = lastWrite ? static_cast<time_t>(*lastWrite) : 0;
  times[1].tv_nsec = lastWrite ? 0 : UTIME_OMIT;
  // On the file under the name, never on what a link there points to.
  if (::utimensat(AT_FDCWD, native.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    posix::SetLastErrorForPath(errno, native);
    return false;
  }
  return true;
}

std::optional<FoundFile> FindFile(WStringView path) {
  std::string native;
  struct stat st{};
  if (!StatPath(path, &native, &st)) {
    if (GetLastError() != ERROR_PATH_NOT_FOUND) SetLastError(ERROR_FILE_NOT_FOUND);
    return std::nullopt;
  }
  FoundFile found;
  found.name = Utf8ToUtf16(LastNativeComponent(native));
  if (S_ISDIR(st.st_mode)) {
    found.attributes = FILE_ATTRIBUTE_DIRECTORY;
  } else {
    found.attributes = FILE_ATTRIBUTE_ARCHIVE;
    found.size = static_cast<uint64_t>(st.st_size);
  }
  if (posix::IsReadOnlyMode(st.st_mode)) found.attributes |= FILE_ATTRIBUTE_READONLY;
  found.lastWrite = st.st_mtim.tv_sec;
  return found;
}

std::vector<WString> ListDirectoryNames(WStringView directory) {
  std::vector<WString> names;
  const std::string native = ResolveNativePath(directory);
  if (native.empty() && !directory.empty()) return names;  // refused (a NUL)
  DIR* dir = ::opendir(native.empty() ? "." : native.c_str());
  if (!dir) {
    posix::SetLastErrorForPath(errno, native);
    return names;
  }
  while (dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.push_back(Utf8ToUtf16(name));
  }
  ::closedir(dir);
  return names;
}

WString GetFullPathName(WStringView name) {
  // A full name needs no current directory (and no getcwd() per file).
  const bool absolute = !name.empty() && IsPathSeparator(name.front());
  return FoldFullPath(name, absolute ? std::nullopt : GetCurrentDirectory());
}

std::optional<WString> GetCurrentDirectory() {
  std::string cwd = CurrentNativeDirectory();
  if (cwd.empty()) {
    SetLastErrorFromErrno(errno);
    return std::nullopt;
  }
  return FromNativePath(cwd);
}

bool SetCurrentDirectory(WStringView path) {
  std::string native = ResolveNativePath(path);
  if (native.empty() || ::chdir(native.c_str()) != 0) {
    if (native.empty()) SetLastError(ERROR_PATH_NOT_FOUND);
    else posix::SetLastErrorForPath(errno, native);
    return false;
  }
  return true;
}

uint32_t GetDriveType(WStringView root) {
  if (root.empty() || root == u"\\" || root == u"/") return DRIVE_FIXED;
  std::string native = ResolveNativePath(root);
  struct stat st{};
  if (::stat(native.c_str(), &st) != 0) return DRIVE_NO_ROOT_DIR;
  return IsOnRemovableMedia(root) ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

bool IsOnRemovableMedia(WStringView path) {
  std::string native = ResolveNativePath(path);
  if (native.empty()) native = ".";
  struct stat st{};
  // The nearest existing ancestor tells the device a new file would land on.
  for (int depth = 0; ::stat(native.c_str(), &st) != 0; ++depth) {
    std::string parent = posix::NativeParent(native);
    if (parent == native || depth > 256) return false;
    native = parent;
  }
  std::string link = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                     std::to_string(minor(st.st_dev));
  char* real = ::realpath(link.c_str(), nullptr);
  if (!real) return false;
  std::string device = real;
  std::free(real);
  // A partition's "removable" flag lives on its whole disk, the parent.
  struct stat partition{};
  if (::stat((device + "/partition").c_str(), &partition) == 0) device = posix::NativeParent(device);
  std::ifstream flag(device + "/removable");
  char value = 0;
  return flag.get(value) && value == '1';
}

WString GetTempPath() {
  const char* tmp = std::getenv("TMPDIR");
  std::string native = (tmp && *tmp) ? tmp : "/tmp";
  // A path that UTF-16 cannot carry unchanged would become another
  // directory, perhaps another user's: there is no temporary path then.
  if (Utf16ToUtf8(Utf8ToUtf16(native)) != native || native.find('\\') != std::string::npos) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return {};
  }
  if (native[0] != '/') {
    std::string cwd = CurrentNativeDirectory();
    if (!cwd.empty()) native = posix::NativeJoin(cwd, native);
  }
  WString path = FromNativePath(native);
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path;
}

WString GetRunTempPath() { return GetTempPath(); }

WString GetModuleFileName(const void* addressInModule) {
  if (addressInModule) {
    // /proc/self/maps names the file behind every mapping by its full path,
    // even for the main program; dladdr only knows how it was asked for.
    std::ifstream maps("/proc/self/maps");
    std::string line;
    auto address = reinterpret_cast<uintptr_t>(addressInModule);
    while (std::getline(maps, line)) {
      unsigned long start = 0;
      unsigned long end = 0;
      if (std::sscanf(line.c_str(), "%lx-%lx", &start, &end) != 2) continue;
      if (address < start || address >= end) continue;
      size_t slash = line.find('/');
      if (slash == std::string::npos) break;
      return FromNativePath(WithoutDeletedMark(line.substr(slash)));
    }
    Dl_info info{};
    if (::dladdr(addressInModule, &info) != 0 && info.dli_fname && info.dli_fname[0] == '/') {
      return FromNativePath(info.dli_fname);
    }
  }
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) {
    SetLastErrorFromErrno(errno);
    return {};
  }
  return FromNativePath(WithoutDeletedMark(std::string(buffer.data(), static_cast<size_t>(n))));
}

}  // namespace plat
