// A small file written whole under a name that nothing else has.
#pragma once
#include <string_view>
#include "platform/win_types.h"

namespace plat {

// Creates the file new (ERROR_FILE_EXISTS when anything, a link included,
// has the name) and writes the bytes; false with the system's error when
// any step fails.
bool WriteNewFile(WStringView path, std::string_view bytes);

}  // namespace plat
