// Where an extracted entry lands: the destination directory, one "\", and
// the part of the name that extraction uses. Names that would leave the
// destination are refused here, for extraction and for the removal of an
// old file at the target alike.
#pragma once
#include <optional>
#include "platform/win_types.h"

// The used part is the whole relative path (less drive and leading "\") when
// fullPath is set, else only the file name and extension. Empty when the
// used part is empty, ".", "..", or (fullPath) the name is absolute,
// drive-qualified or holds a ".." component. An empty destination is the
// current directory.
std::optional<plat::WString> BuildExtractionTarget(plat::WStringView destDir,
                                                   plat::WStringView name, bool fullPath);
