// upk4 extract: one entry through the library's exports, exactly as Setup
// uses them (open, unpack, close), with a progress bar on long extractions.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include "commands.h"
#include "progress_bar.h"
#include "upk4.h"
#include "framework/exception.h"
#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "upk4/archive_reader.h"
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
               "                    [--progress]\n\n"
               "Extracts ENTRY of ARCHIVE into DESTDIR (default: the current directory)\n"
               "under its own file name, or under the file name of NAME. Directories of\n"
               "the entry's name are not recreated. ENTRY is matched without regard to\n"
               "case; \"/\" and \"\\\" both separate its directories.\n\n"
               "  --as NAME       file name to write (its directories are ignored)\n"
               "  --password PW   password for encrypted entries\n"
               "  --progress      draw a progress bar even when stderr is no terminal\n\n"
               "exit codes: 0 extracted, 1 archive cannot be opened, 2 bad usage,\n"
               "3 no such entry, 4 damaged data, wrong or missing password or CRC-32\n"
               "mismatch, 5 any other failure (the system's reason is printed).\n");
}

struct ExtractArgs {
  std::string archive, entry, destDir = ".";
  std::optional<std::string> asName, password;
  bool progress = false;
};

// Parses the arguments after the command name; false on bad usage.
bool ParseExtractArgs(int argc, char** argv, ExtractArgs& args) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if ((std::strcmp(a, "--as") == 0 || std::strcmp(a, "--password") == 0) && i + 1 < argc) {
      (std::strcmp(a, "--as") == 0 ? args.asName : args.password) = argv[++i];
    } else if (std::strcmp(a, "--progress") == 0) {
      args.progress = true;
    } else if (a[0] == '-' && a[1] == '-') {
      return false;
    } else if (positional == 0) {
      args.archive = a, ++positional;
    } else if (positional == 1) {
      args.entry = a, ++positional;
    } else if (positional == 2) {
      args.destDir = a, ++positional;
    } else {
      return false;
    }
  }
  return positional >= 2;
}

// The entry's size from the central directory, for the progress total.
std::optional<uint32_t> EntrySize(const plat::WString& archivePath, const plat::WString& entry) {
  try {
    ArchiveReader reader;
    SetVolumeNamePattern(archivePath);
    reader.Open(archivePath);
    const int32_t index = reader.FindEntry(entry, false);
    std::optional<uint32_t> size;
    if (index >= 0) size = reader.GetEntry(static_cast<size_t>(index))->uncompressedSize;
    reader.Close(true);
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
    default:
      std::fprintf(stderr, "upk4: cannot extract %s: %s\n", args.entry.c_str(),
                   SystemReason(result).c_str());
      return kSystemError;
  }
}
