// A small INI writer and reader of our own (UTF-8, "\n" line ends), with
// sections and keys matched without regard to case as Windows does.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_handle.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/posix_support.h"

namespace plat {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool SameNoCase(std::string_view a, WStringView b) {
  WString wa = Utf8ToUtf16(a);
  return wa.size() == b.size() && CollateWideNoCase(wa, b) == 0;
}

// The section name when the line is a section header.
bool SectionOf(std::string_view line, std::string_view* name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  *name = Trim(line.substr(1, close - 1));
  return true;
}

// The key when the line is key=value.
bool KeyOf(std::string_view line, std::string_view* key, std::string_view* value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *key = Trim(line.substr(0, eq));
  *value = Trim(line.substr(eq + 1));
  return true;
}

// Reads the file under the name itself: a link there counts as no file, so
// nothing that it points to is ever copied into the profile.
bool ReadLines(const std::string& native, std::vector<std::string>* lines) {
  struct stat st{};
  if (native.empty() || ::lstat(native.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  std::ifstream in(native, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines->push_back(line);
  }
  return true;
}

bool HasLineBreak(WStringView s) {
  return s.find(u'\n') != WStringView::npos || s.find(u'\r') != WStringView::npos;
}

}  // namespace

bool WriteProfileString(WStringView section, WStringView key, WStringView value,
                        WStringView fileName) {
  // A line break would split the entry and change other keys: refused
  // rather than written as a damaged file.
  if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
      HasLineBreak(value) || key.find(u'=') != WStringView::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::string native = ResolveNativePath(fileName);
  std::vector<std::string> lines;
  ReadLines(native, &lines);

  std::string entry = Utf16ToUtf8(key) + "=" + Utf16ToUtf8(value);
  bool inSection = false;
  bool done = false;
  size_t insertAt = std::string::npos;  // after the section's last non-blank line
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    std::string_view name;
    if (SectionOf(lines[i], &name)) {
      if (inSection) break;
      inSection = SameNoCase(name, section);
      if (inSection) insertAt = i + 1;
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (KeyOf(lines[i], &k, &v) && SameNoCase(k, key)) {
      lines[i] = entry;
      done = true;
    } else if (!Trim(lines[i]).empty()) {
      insertAt = i + 1;
    }
  }
  if (!done) {
    if (insertAt != std::string::npos) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
    } else {
      lines.push_back("[" + Utf16ToUtf8(section) + "]");
      lines.push_back(entry);
    }
  }

  std::string text;
  for (const std::string& line : lines) text += line + "\n";
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

WString ReadProfileString(WStringView section, WStringView key, WStringView defaultValue,
                          WStringView fileName) {
  std::vector<std::string> lines;
  if (!ReadLines(ResolveNativePath(fileName), &lines)) return WString(defaultValue);
  bool inSection = false;
  for (const std::string& line : lines) {
    std::string_view name;
    if (SectionOf(line, &name)) {
      inSection = SameNoCase(name, section);
      continue;
    }
    std::string_view k, v;
    if (inSection && KeyOf(line, &k, &v) && SameNoCase(k, key)) return Utf8ToUtf16(v);
  }
  return WString(defaultValue);
}

}  // namespace plat
