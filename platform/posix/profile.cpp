// POSIX system calls: the profile file read and written whole; the INI text
// itself is common.
#include "platform/profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/posix_support.h"
#include "platform/profile_text.h"

namespace plat {
namespace {

bool ReadLines(const std::string& native, std::vector<std::string>* lines) {
  std::ifstream in(native, std::ios::binary);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  *lines = SplitProfileLines(text.str());
  return true;
}

}  // namespace

bool WriteProfileString(WStringView section, WStringView key, WStringView value,
                        WStringView fileName) {
  if (!IsValidProfileEntry(section, key, value)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::string native = ResolveNativePath(fileName);
  std::vector<std::string> lines;
  ReadLines(native, &lines);
  const std::string text = WithProfileValue(std::move(lines), section, key, value);
  int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    posix::SetLastErrorForPath(errno, native);
    return false;
  }
  size_t written = 0;
  while (written < text.size()) {
    ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SetLastErrorFromErrno(n < 0 ? errno : ENOSPC);
      ::close(fd);
      return false;
    }
    written += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

WString ReadProfileString(WStringView section, WStringView key, WStringView defaultValue,
                          WStringView fileName) {
  std::vector<std::string> lines;
  if (!ReadLines(ResolveNativePath(fileName), &lines)) return WString(defaultValue);
  return FindProfileValue(lines, section, key).value_or(WString(defaultValue));
}

}  // namespace plat
