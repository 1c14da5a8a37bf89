// The config block's text, before scrambling. Setup splits it at "|" the
// way strtok does, so no token can be empty and leaving one out shifts the
// others; every case therefore writes its tokens in full:
//
//   archive inside, no password    "-"                  (no subdirectory)
//   archive inside, password PW    "-|PW"
//   archive beside                 "SUB|PW|NAME"
//
// SUB is "-" (one character: no subdirectory) or the subdirectory with its
// own trailing backslash, e.g. "data\". Beside an archive without a password
// PW is the placeholder "-": the archive's entries are not encrypted, so the
// password the unpacker then holds is never used. The package flags are 4
// (a plain path) unless the archive is split: then they are 1, and the file
// name part of Setup's archive path (NAME) is a pattern formatted with the
// number 1, a literal "%" in it written "%%", its one "%d" naming the
// volumes. Setup's directory and SUB are never formatted, so a package runs
// from any folder ("dl%20x" included).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include "platform/win_types.h"
#include "upk4.h"

namespace upkpack {

inline constexpr int32_t kPackageFlagsPlain = static_cast<int32_t>(UPK4_OPEN_PLAIN);
inline constexpr int32_t kPackageFlagsPattern = static_cast<int32_t>(UPK4_OPEN_PATTERN1);
inline constexpr char kNoSubdir[] = "-";
inline constexpr char kNoPassword[] = "-";

struct ArchivePlacement {
  bool beside = false;
  plat::WString subdirToken;  // "-" or "dir\"
  plat::WString nameToken;    // the archive's file name; a pattern when split
  bool split = false;
};

// Checks and turns the command line's archive name and subdirectory into
// tokens; split archives need exactly one "%d" in the name. Throws
// PackError for names that cannot work (separators, "|", ":", "..", an
// absolute subdirectory, characters without an ANSI form).
ArchivePlacement PlaceArchive(const std::optional<std::string>& archiveName,
                              const std::string& subdir, bool split);

// Printable ASCII without "|": the unpacker refuses passwords with bytes
// above 127, and "|" would end the token.
void CheckPassword(const std::string& password);

// The unscrambled text in the ANSI code page.
std::string BuildConfigText(const ArchivePlacement& placement, const std::string& password);

// "%" doubled, so that the unpacker's formatting gives the text back.
plat::WString EscapePercent(plat::WStringView text);

}  // namespace upkpack
