// INI text, the same on every system: what the POSIX profile-string writer
// reads and writes (UTF-8, "\n" line ends).
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include "platform/win_types.h"

namespace plat {

std::vector<std::string> SplitProfileLines(std::string_view text);
// Whether key=value can be written into [section] without changing anything
// else: no line breaks, no '=' in the key, neither name empty.
bool IsValidProfileEntry(WStringView section, WStringView key, WStringView value);
// The text with key=value in [section]: the key's value replaced, or the key
// added at the section's end, or the section added at the file's end.
std::string WithProfileValue(std::vector<std::string> lines, WStringView section,
                             WStringView key, WStringView value);
std::optional<WString> FindProfileValue(const std::vector<std::string>& lines,
                                        WStringView section, WStringView key);

}  // namespace plat
