// Entry names as the archive stores them, with "/" separators: plain ASCII
// as it is; any other name in UTF-8, marked by flag bit 11. A name in the
// OEM code page would be read in whatever OEM code page the installing
// Windows has (437, 850, 866, ...), so no name is written that way.
#pragma once
#include <string>
#include "platform/win_types.h"

namespace upkpack {

struct ArchiveName {
  std::string bytes;
  bool utf8 = false;  // flag bit 11: the bytes are UTF-8
};

// Throws PackError for a name that holds NUL or half a surrogate pair.
ArchiveName ToArchiveName(plat::WStringView name);

// The name as the reader will present it ("/" kept).
plat::WString FromArchiveName(const ArchiveName& name);

// Case-insensitive equality as Setup's lookups see it.
bool SameEntryName(plat::WStringView a, plat::WStringView b);

}  // namespace upkpack
