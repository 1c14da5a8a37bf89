// upk4 extract: one entry through the library's exports, exactly as Setup
// uses them (open, unpack, close), with a progress bar on long extractions;
// or, with no entry named, the whole archive with the library's results but
// without its exports (extract_all.cpp).
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>
#include "commands.h"
#include "extract_all.h"
#include "progress_bar.h"
#include "upk4.h"
#include "framework/exception.h"
#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "upk4/archive.h"
#include "upk4/extraction_target.h"
#include "upk4/path_functions.h"

namespace {

// Exit codes of the command.
enum ExtractExit {
  kExtracted = 0,
  kCannotOpen = 1,
  kUsage = 2,
  kNoSuchEntry = 3,
  kBadData = 4,
  kSystemError = 5,
};

// Entries at least this large get a progress bar on a terminal.
constexpr uint32_t kProgressThreshold = 8u << 20;

void PrintExtractUsage(FILE* out) {
  std::fprintf(out,
               "usage: upk4 extract ARCHIVE ENTRY [DESTDIR] [--as NAME] [--password PW]\n"
               "                    [--progress]\n"
               "       upk4 extract ARCHIVE [DESTDIR] [--password PW] [--progress] [-q]\n"
               "                    [-j N]\n\n"
               "Extracts ENTRY of ARCHIVE into DESTDIR (default: the current directory)\n"
               "under its own file name, or under the file name of NAME. Directories of\n"
               "the entry's name are not recreated. ENTRY is matched without regard to\n"
               "case; \"/\" and \"\\\" both separate its directories.\n\n"
               "Without ENTRY, extracts every entry into DESTDIR with the directories of\n"
               "its name; names ending in a separator are directories. A second argument\n"
               "is DESTDIR when it is an existing directory or ends with \"/\", else ENTRY.\n"
               "Names that would leave DESTDIR are refused. Failures are reported one by\n"
               "one, in the order of the archive, and extraction goes on. The files are\n"
               "written by N workers at once (default: one per processor, at most 8);\n"
               "the result does not depend on N.\n\n"
               "  --as NAME       file name to write (its directories are ignored)\n"
               "  --password PW   password for encrypted entries\n"
               "  --progress      draw a progress bar even when stderr is no terminal\n"
               "  -q              whole archive: no progress bar and no summary\n"
               "  -j N            whole archive: N workers (1 to 64)\n\n"
               "exit codes: 0 extracted, 1 archive cannot be opened, 2 bad usage,\n"
               "3 no such entry, 4 damaged data, wrong or missing password or CRC-32\n"
               "mismatch, 5 any other failure (the system's reason is printed). For a\n"
               "whole archive, 4 or 5 when some entries failed (5 when both kinds did).\n");
}

struct ExtractArgs {
  std::string archive, entry, destDir = ".";
  std::optional<std::string> asName, password;
  bool progress = false, quiet = false, whole = false;
  unsigned workers = 0;  // 0: the default
};

constexpr unsigned kMaxWorkers = 64;

// The N of "-j N" or "-jN"; nothing unless 1 to kMaxWorkers.
std::optional<unsigned> ParseWorkers(const std::string& text) {
  if (text.empty() || text.size() > 2 ||
      text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const unsigned n = static_cast<unsigned>(std::stoul(text));
  if (n < 1 || n > kMaxWorkers) return std::nullopt;
  return n;
}

bool IsDirectoryArgument(const std::string& a) {
  if (!a.empty() && (a.back() == '/' || a.back() == '\\')) return true;
  const uint32_t attributes = plat::GetFileAttributes(plat::FromNativePath(a));
  return attributes != plat::INVALID_FILE_ATTRIBUTES &&
         (attributes & plat::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Parses the arguments after the command name; false on bad usage.
bool ParseExtractArgs(int argc, char** argv, ExtractArgs& args) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if ((std::strcmp(a, "--as") == 0 || std::strcmp(a, "--password") == 0) && i + 1 < argc) {
      (std::strcmp(a, "--as") == 0 ? args.asName : args.password) = argv[++i];
    } else if (std::strcmp(a, "--progress") == 0) {
      args.progress = true;
    } else if (std::strcmp(a, "-q") == 0) {
      args.quiet = true;
    } else if (std::strncmp(a, "-j", 2) == 0) {
      const std::optional<unsigned> n =
          ParseWorkers(a[2] != 0 ? std::string(a + 2) : i + 1 < argc ? std::string(argv[++i]) : "");
      if (!n) return false;
      args.workers = *n;
    } else if (a[0] == '-' && a[1] == '-') {
      return false;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.empty() || positional.size() > 3) return false;
  args.archive = positional[0];
  args.whole = positional.size() == 1 ||
               (positional.size() == 2 && IsDirectoryArgument(positional[1]));
  if (args.whole) {
    if (positional.size() == 2) args.destDir = positional[1];
    return !args.asName;
  }
  args.entry = positional[1];
  if (positional.size() == 3) args.destDir = positional[2];
  return !args.quiet && args.workers == 0;
}

// The entry's size from the central directory, for the progress total.
std::optional<uint32_t> EntrySize(const plat::WString& archivePath, const plat::WString& entry) {
  try {
    const std::unique_ptr<Archive> archive =
        Archive::Open(archivePath, LibraryArchiveOptions(GetFileNamePart(archivePath)));
    const int32_t index = archive->Find(entry, false);
    std::optional<uint32_t> size;
    if (index >= 0) size = archive->Entry(static_cast<size_t>(index)).uncompressedSize;
    return size;
  } catch (...) {
    return std::nullopt;  // the exports report the failure themselves
  }
}

std::string SystemReason(int32_t code) {
  std::string text = plat::Utf16ToUtf8(plat::FormatSystemMessage(static_cast<uint32_t>(code)));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) text = "system error";
  return text + " (code " + std::to_string(code) + ")";
}

}  // namespace

int RunExtract(int argc, char** argv) {
  if (argc >= 2 && IsHelpArgument(argv[1])) {
    PrintExtractUsage(stdout);
    return kExtracted;
  }
  ExtractArgs args;
  if (!ParseExtractArgs(argc, argv, args)) {
    PrintExtractUsage(stderr);
    return kUsage;
  }

  if (args.whole)
    return ExtractAll(
        {args.archive, args.destDir, args.password, args.progress, args.quiet, args.workers});

  const plat::WString archivePath = plat::FromNativePath(args.archive);
  const plat::WString entryName = plat::FromNativePath(args.entry);
  const plat::WString destDir = plat::FromNativePath(args.destDir);
  const plat::WString fileName = plat::FromNativePath(args.asName ? *args.asName : args.entry);
  const plat::WString password = args.password ? plat::Utf8ToUtf16(*args.password) : u"";

  std::optional<ProgressBar> bar;
  if (args.progress || plat::IsTerminal(plat::StandardStream::Error)) {
    const std::optional<uint32_t> size = EntrySize(archivePath, entryName);
    if (size && (args.progress || *size >= kProgressThreshold)) {
      bar.emplace(args.entry);
      const uint32_t thousands = *size / 1000 + (*size % 1000 != 0);
      UPK4_SetProgress(bar->Handle(), nullptr, 0, thousands == 0 ? 1 : thousands);
    }
  }

  ArchiveHandle* handle =
      UPK4_Open(archivePath.c_str(), 0, 0, password.c_str(), UPK4_OPEN_PLAIN);
  if (handle == nullptr) {
    UPK4_SetProgress(nullptr, nullptr, 0, 0);
    std::fprintf(stderr, "upk4: cannot open %s\n", args.archive.c_str());
    return kCannotOpen;
  }
  const int32_t result =
      UPK4_Unpack(handle, entryName.c_str(), destDir.c_str(), fileName.c_str(), 0);
  UPK4_Close(handle);
  UPK4_SetProgress(nullptr, nullptr, 0, 0);
  bar.reset();

  switch (result) {
    case 0:
      return kExtracted;
    case 2:
      std::fprintf(stderr, "upk4: no entry %s in %s\n", args.entry.c_str(), args.archive.c_str());
      return kNoSuchEntry;
    case -2:
      std::fprintf(stderr,
                   "upk4: cannot extract %s: damaged data, a wrong or missing password, "
                   "or a CRC-32 mismatch\n",
                   args.entry.c_str());
      return kBadData;
    default: {
      // A refused name: what is wrong with it, not only the code's text.
      TargetRefusal refusal;
      if (!BuildExtractionTarget(destDir, fileName, false, &refusal) &&
          static_cast<uint32_t>(result) == refusal.error) {
        std::fprintf(stderr, "upk4: cannot extract %s: refused: %s (code %d)\n", args.entry.c_str(),
                     plat::Utf16ToUtf8(refusal.reason).c_str(), static_cast<int>(result));
      } else {
        std::fprintf(stderr, "upk4: cannot extract %s: %s\n", args.entry.c_str(),
                     SystemReason(result).c_str());
      }
      return kSystemError;
    }
  }
}
