// The same on every system: INI text (UTF-8, "\n" line ends) with sections
// and keys matched without regard to case as Windows does.
#include "platform/profile_text.h"

#include "platform/code_page.h"

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

bool HasLineBreak(WStringView s) {
  return s.find(u'\n') != WStringView::npos || s.find(u'\r') != WStringView::npos;
}

}  // namespace

std::vector<std::string> SplitProfileLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string line(text.substr(0, end));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool IsValidProfileEntry(WStringView section, WStringView key, WStringView value) {
  // A line break would split the entry and change other keys: refused
  // rather than written as a damaged file.
  return !(section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
           HasLineBreak(value) || key.find(u'=') != WStringView::npos);
}

std::string WithProfileValue(std::vector<std::string> lines, WStringView section,
                             WStringView key, WStringView value) {
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
  return text;
}

std::optional<WString> FindProfileValue(const std::vector<std::string>& lines,
                                        WStringView section, WStringView key) {
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
  return std::nullopt;
}

}  // namespace plat
