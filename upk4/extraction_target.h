// Where an extracted entry lands: the destination directory, one "\", and
// the part of the name that extraction uses. Names that would leave the
// destination, that no file system takes whole, or (in Windows builds) that
// Windows would take for something else are refused here, for extraction
// and for the removal of an old file at the target alike, before anything
// is created.
#pragma once
#include <cstdint>
#include <optional>
#include "platform/win_types.h"
#include "platform/windows_names.h"

// Why a name was refused: the error that the refusal reports, and a text
// that says what is wrong with the name.
struct TargetRefusal {
  uint32_t error = 0;  // ERROR_INVALID_NAME or ERROR_FILENAME_EXCED_RANGE
  plat::WString reason;
};

// Longest name component: what NTFS takes, and never cut to fit.
inline constexpr size_t kMaxNameComponent = 255;

// The used part is the whole relative path (less drive and leading "\") when
// fullPath is set, else only the file name and extension. Empty, with the
// refusal filled in when one is given, when the used part is empty, ".",
// "..", or (fullPath) the name is absolute, drive-qualified or holds a ".."
// component (ERROR_INVALID_NAME); when a component of it is longer than
// kMaxNameComponent (ERROR_FILENAME_EXCED_RANGE); and, with windowsNames,
// when Windows would give it another meaning (ERROR_INVALID_NAME). An empty
// destination is the current directory.
std::optional<plat::WString> BuildExtractionTarget(plat::WStringView destDir,
                                                   plat::WStringView name, bool fullPath,
                                                   TargetRefusal* refusal = nullptr,
                                                   bool windowsNames = plat::kWindowsNamesApply);
