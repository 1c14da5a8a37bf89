// POSIX system calls: the profile file read and written whole; the INI text
// itself is common.
#include "platform/profile.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/posix_support.h"
#include "platform/new_file.h"
#include "platform/profile_text.h"

namespace plat {
namespace {

// Reads the file under the name itself: a link there counts as no file, so
// nothing that it points to is ever copied into the profile.
bool ReadLines(const std::string& native, std::vector<std::string>* lines) {
  struct stat st{};
  if (native.empty() || ::lstat(native.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
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
  // Written as a new file: a link planted under the name in a shared
  // directory is replaced, never written through.
  const FileHandle file =
      OpenFileHandle(fileName, FileAccess::Write, FileShare::Exclusive, FileCreate::CreateAlways);
  if (file == kInvalidFile) return false;
  const bool written =
      WriteFileHandle(file, text.data(), static_cast<uint32_t>(text.size())) >= 0;
  const uint32_t error = GetLastError();
  const bool closed = CloseFileHandle(file);
  if (!written) SetLastError(error);
  return written && closed;
}

bool WriteNewProfileFile(WStringView section, WStringView key, WStringView value,
                         WStringView fileName) {
  if (!IsValidProfileEntry(section, key, value)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return WriteNewFile(fileName, WithProfileValue({}, section, key, value));
}

WString ReadProfileString(WStringView section, WStringView key, WStringView defaultValue,
                          WStringView fileName) {
  std::vector<std::string> lines;
  if (!ReadLines(ResolveNativePath(fileName), &lines)) return WString(defaultValue);
  return FindProfileValue(lines, section, key).value_or(WString(defaultValue));
}

}  // namespace plat
