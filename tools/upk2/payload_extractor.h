// Extraction of a package's payload (every entry but the second stage "A11")
// into the temporary directory, keeping the entries' directories and never
// writing outside that directory.
#pragma once
#include "package_archive.h"
#include <cstddef>
#include "platform/win_types.h"


namespace upk2 {

// The entry that carries the second stage itself; Setup has extracted it.
inline constexpr char16_t kSecondStageEntry[] = u"A11";
inline constexpr char16_t kSetupProgramName[] = u"QXSetup.exe";

// True when the name stays inside the directory it is extracted into: not
// empty, relative (no leading separator), no drive or stream (":"), and no
// component made of dots and blanks only other than "." (Windows reads
// ".. " and "..." as "..").
bool IsSafeEntryName(plat::WStringView name);

// Whether the entry would replace a file that Setup keeps in the temporary
// directory while the payload is extracted: the loaded libraries
// ("upk2.dll", "upk4.dll"), the hand-off file "qx.tmp" and the in-use lock.
// Overwriting a loaded library in place crashes Setup on POSIX.
bool IsReservedEntryName(plat::WStringView name);

// Whether the entry name is the second stage's (case does not matter, as in
// Setup's lookup).
bool IsSecondStageEntry(plat::WStringView name);

struct ExtractSummary {
  size_t files = 0;
  size_t directories = 0;
};

// Checks every name first, then extracts: directories first, then the files
// by a crew of workers. Throws Upk2Error for an unsafe or reserved name or
// for an extraction that reports failure, and errors of the reader pass
// through: of the entry that failed first in archive order, after which no
// further entry is started.
ExtractSummary ExtractPayload(const OpenedPackage& package, plat::WStringView destDir);

}  // namespace upk2
