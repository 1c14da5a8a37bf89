// POSIX system calls: file handles over open(2). Sharing modes are not
// enforced on POSIX; the read-only attribute is, as Windows does, so a write
// open of a file without write bits fails even for root.
#include "platform/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/posix_support.h"

namespace plat {

FileHandle OpenFileHandle(WStringView path, FileAccess access, FileShare /*share*/,
                          FileCreate create) {
  const posix::ResolvedPath resolved = posix::Resolve(path);
  const std::string& native = resolved.native;
  if (native.empty()) {
    SetLastError(resolved.refusal ? resolved.refusal : ERROR_PATH_NOT_FOUND);
    return kInvalidFile;
  }
  int flags = O_CLOEXEC;
  switch (access) {
    case FileAccess::Read: flags |= O_RDONLY; break;
    case FileAccess::Write: flags |= O_WRONLY; break;
    case FileAccess::ReadWrite: flags |= O_RDWR; break;
  }
  switch (create) {
    case FileCreate::OpenExisting: break;
    case FileCreate::CreateAlways: flags |= O_CREAT; break;  // truncated below
    case FileCreate::OpenAlways: flags |= O_CREAT; break;
    case FileCreate::CreateNew: flags |= O_CREAT | O_EXCL; break;
  }

  // Creating looks at the name itself: a link there is never followed.
  const bool creates = create == FileCreate::CreateAlways || create == FileCreate::CreateNew;
  struct stat before{};
  // What the resolution saw a moment ago is what a look now would see.
  bool existed = creates ? posix::LstatResolved(resolved, &before)
                         : posix::StatResolved(resolved, &before);
  if (existed) {
    if (create == FileCreate::CreateNew) {
      SetLastError(ERROR_FILE_EXISTS);
      return kInvalidFile;
    }
    if (S_ISDIR(before.st_mode)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return kInvalidFile;
    }
    bool writes = access != FileAccess::Read || create == FileCreate::CreateAlways;
    if (writes && S_ISREG(before.st_mode) && posix::IsReadOnlyMode(before.st_mode)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return kInvalidFile;
    }
  }
  if (creates) flags |= O_NOFOLLOW;
  if (create == FileCreate::CreateAlways) {
    // A file or link at the name is replaced by a new file, never rewritten:
    // a library mapped from the old file keeps its image, a link's target
    // stays untouched, and new files need no truncation (which makes ext4
    // flush the whole file at close). Only where the directory refuses the
    // removal is a file truncated in place; a device is opened as it is.
    if (existed && (S_ISREG(before.st_mode) || S_ISLNK(before.st_mode))) {
      if (::unlink(native.c_str()) == 0) {
        flags |= O_EXCL;
      } else if (S_ISREG(before.st_mode) && (errno == EACCES || errno == EPERM)) {
        flags |= O_TRUNC;
      } else {
        posix::SetLastErrorForPath(errno, native);
        return kInvalidFile;
      }
    } else if (!existed) {
      flags |= O_EXCL;
    }
  }

  int fd;
  do {
    fd = ::open(native.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int err = errno;
    if (err == EEXIST) {
      SetLastError(ERROR_FILE_EXISTS);
    } else if (err == ELOOP && creates) {
      SetLastError(ERROR_ACCESS_DENIED);  // a link appeared under the name
    } else {
      posix::SetLastErrorForResolved(err, resolved);
    }
    return kInvalidFile;
  }
  // Only an existing name can be a directory; O_EXCL made a new file.
  struct stat st{};
  if (!(flags & O_EXCL) && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return kInvalidFile;
  }
  // CreateFile reports ERROR_ALREADY_EXISTS with success when CREATE_ALWAYS
  // or OPEN_ALWAYS met an existing file.
  if (!existed && create != FileCreate::OpenExisting)
    posix::NoteFileCreated(native, resolved.parentKnown ? &resolved.parent : nullptr);
  bool reopened = existed && (create == FileCreate::CreateAlways || create == FileCreate::OpenAlways);
  SetLastError(reopened ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return fd;
}

int64_t ReadFileHandle(FileHandle h, void* buffer, uint32_t count) {
  auto* out = static_cast<char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    ssize_t n = ::read(static_cast<int>(h), out + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastErrorFromErrno(errno == EISDIR ? EACCES : errno);
      return -1;
    }
    if (n == 0) break;
    total += static_cast<uint32_t>(n);
  }
  return total;
}

int64_t WriteFileHandle(FileHandle h, const void* buffer, uint32_t count) {
  const auto* in = static_cast<const char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    ssize_t n = ::write(static_cast<int>(h), in + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastErrorFromErrno(errno);
      return -1;
    }
    if (n == 0) {
      SetLastError(ERROR_DISK_FULL);
      return -1;
    }
    total += static_cast<uint32_t>(n);
  }
  return total;
}

int64_t SeekFileHandle(FileHandle h, int64_t offset, SeekOrigin origin) {
  int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
  off_t pos = ::lseek(static_cast<int>(h), static_cast<off_t>(offset), whence);
  if (pos < 0) {
    // A position before the start is Windows' negative seek; we report it
    // as a seek error.
    SetLastError(errno == EBADF ? ERROR_INVALID_HANDLE : ERROR_SEEK);
    return -1;
  }
  return pos;
}

int64_t GetFileHandleSize(FileHandle h) {
  struct stat st{};
  if (::fstat(static_cast<int>(h), &st) != 0) {
    SetLastErrorFromErrno(errno);
    return -1;
  }
  return st.st_size;
}

bool FlushFileHandle(FileHandle h) {
  if (::fsync(static_cast<int>(h)) != 0) {
    // Devices and pipes cannot be synchronised; nothing is lost there.
    if (errno == EINVAL || errno == EROFS) return true;
    SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool SetFileHandleTimes(FileHandle h, const CalendarTime* /*creation*/,
                        const CalendarTime* lastAccess, const CalendarTime* lastWrite) {
  struct timespec times[2];
  times[0].tv_sec = lastAccess ? static_cast<time_t>(*lastAccess) : 0;
  times[0].tv_nsec = lastAccess ? 0 : UTIME_OMIT;
  times[1].tv_sec = lastWrite ? static_cast<time_t>(*lastWrite) : 0;
  times[1].tv_nsec = lastWrite ? 0 : UTIME_OMIT;
  if (::futimens(static_cast<int>(h), times) != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool SetFileHandleAttributes(FileHandle h, uint32_t attributes) {
  struct stat st{};
  if (::fstat(static_cast<int>(h), &st) != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  // As for a named file: a directory is never made read-only.
  if (!S_ISREG(st.st_mode)) return true;
  const mode_t mode = st.st_mode & 07777;
  const mode_t wanted =
      (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
  if (wanted != mode && ::fchmod(static_cast<int>(h), wanted) != 0) {
    SetLastErrorFromErrno(errno == EOPNOTSUPP ? EACCES : errno);
    return false;
  }
  return true;
}

bool ClosingWrittenFilesIsSlow() { return false; }

bool CloseFileHandle(FileHandle h) {
  if (h < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  // After close(2) fails the descriptor is gone all the same (Linux), so
  // it is never retried.
  if (::close(static_cast<int>(h)) != 0 && errno != EINTR) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

}  // namespace plat
