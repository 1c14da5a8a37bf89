// Entry names as the archive stores them: bytes in the OEM code page with
// "/" separators. The reader turns them back with an OEM-to-ANSI conversion
// and the ANSI code page, so a name is stored only when that way back gives
// exactly the name that went in.
#pragma once
#include <string>
#include "platform/win_types.h"

namespace upkpack {

// Throws PackError when a character has no such OEM form.
std::string ToArchiveName(plat::WStringView name);

// The name as the reader will present it (OEM to ANSI to UTF-16, "/" kept).
plat::WString FromArchiveName(const std::string& bytes);

// Case-insensitive equality as Setup's lookups see it.
bool SameEntryName(plat::WStringView a, plat::WStringView b);

}  // namespace upkpack
