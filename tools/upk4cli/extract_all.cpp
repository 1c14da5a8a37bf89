// Whole-archive extraction: the archive is opened once through the exports,
// each entry is unpacked into the directories of its name, and one progress
// bar runs over the whole archive (UPK4_SetProgress's base and total).
// Names ending in a separator are directories, whatever their attributes;
// a name that would leave the destination is refused and reported.
#include "extract_all.h"
#include <algorithm>
#include <cstdio>
#include <vector>
#include <optional>
#include "progress_bar.h"
#include "upk4.h"
#include "platform/code_page.h"
#include "platform/beneath.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "upk4/archive.h"
#include "upk4/extraction_target.h"
#include "upk4/path_functions.h"

namespace {

struct Listed {
  plat::WString name;  // "\" separators
  uint64_t size = 0;
};

// The entries in directory order, read the way the library reads them.
std::optional<std::vector<Listed>> ListEntries(const plat::WString& archivePath) {
  try {
    const std::unique_ptr<Archive> archive =
        Archive::Open(archivePath, LibraryArchiveOptions(GetFileNamePart(archivePath)));
    std::vector<Listed> entries;
    entries.reserve(archive->EntryCount());
    for (size_t i = 0; i < archive->EntryCount(); ++i)
      entries.push_back({archive->Entry(i).GetNameWide(), archive->Entry(i).uncompressedSize});
    return entries;
  } catch (...) {
    return std::nullopt;
  }
}

std::string Reason(int32_t result) {
  if (result == -2) return "damaged data, a wrong or missing password, or a CRC-32 mismatch";
  if (result == 2) return "not found by its name";
  if (result == static_cast<int32_t>(plat::ERROR_STOPPED_ON_SYMLINK))
    return "refused: a symbolic link below the destination directory is not followed (code " +
           std::to_string(result) + ")";
  std::string text = plat::Utf16ToUtf8(plat::FormatSystemMessage(static_cast<uint32_t>(result)));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return (text.empty() ? "system error" : text) + " (code " + std::to_string(result) + ")";
}

}  // namespace

int ExtractAll(const ExtractAllArgs& args) {
  const plat::WString archivePath = plat::FromNativePath(args.archive);
  // Taken as a full name once: the library opens every file under its full
  // name, which a relative destination would make it ask the system for
  // the current directory per entry.
  const plat::WString destDir = plat::GetFullPathName(plat::FromNativePath(args.destDir));
  const plat::WString password = args.password ? plat::Utf8ToUtf16(*args.password) : u"";

  const std::optional<std::vector<Listed>> entries = ListEntries(archivePath);
  ArchiveHandle* handle =
      entries ? UPK4_Open(archivePath.c_str(), 0, 0, password.c_str(), UPK4_OPEN_PLAIN) : nullptr;
  if (handle == nullptr) {
    std::fprintf(stderr, "upk4: cannot open %s\n", args.archive.c_str());
    return 1;
  }

  // One bar for the whole archive, in thousands of bytes.
  uint64_t totalBytes = 0;
  for (const Listed& e : *entries) totalBytes += e.size;
  const uint64_t thousands = totalBytes / 1000 + (totalBytes % 1000 != 0);
  std::optional<ProgressBar> bar;
  if (!args.quiet && (args.progress || plat::IsTerminal(plat::StandardStream::Error)))
    bar.emplace(args.archive);
  const uint32_t total = static_cast<uint32_t>(std::min<uint64_t>(thousands ? thousands : 1, 0x7FFFFFFF));

  size_t failed = 0;
  bool damaged = false, otherFailure = false;
  uint64_t doneBytes = 0;
  const auto fail = [&](const Listed& e, const std::string& why, bool isDamage) {
    ++failed;
    (isDamage ? damaged : otherFailure) = true;
    // The message must not land inside the bar's line: the bar ends and
    // starts again below it.
    const bool hadBar = bar.has_value();
    bar.reset();
    std::fprintf(stderr, "upk4: %s: %s\n", plat::ToNativePath(e.name).c_str(), why.c_str());
    if (hadBar) bar.emplace(args.archive);
  };
  for (const Listed& e : *entries) {
    const bool isDirectory = !e.name.empty() && e.name.back() == u'\\';
    TargetRefusal refusal;
    if (!BuildExtractionTarget(destDir, e.name, true, &refusal)) {
      fail(e, "refused: " + plat::Utf16ToUtf8(refusal.reason) + " (code " +
                  std::to_string(refusal.error) + ")", false);
      continue;
    }
    // Everything below the destination is made by walking down from it,
    // never through a link that anyone put there.
    const plat::WString relative = GetPathWithoutDrive(e.name);
    if (isDirectory) {
      CreateDirectoryTree(destDir);  // the destination itself, as named
      if (!plat::CreateDirectoriesBeneath(destDir, relative))
        fail(e, Reason(static_cast<int32_t>(plat::GetLastError())), false);
      continue;
    }
    if (bar)
      UPK4_SetProgress(bar->Handle(), nullptr, static_cast<int32_t>(doneBytes / 1000), total);
    const int32_t result = UPK4_Unpack(handle, e.name.c_str(), destDir.c_str(), relative.c_str(),
                                       UPK4_UNPACK_FULL_PATH);
    doneBytes += e.size;
    if (result != 0) fail(e, Reason(result), result == -2);
  }
  UPK4_Close(handle);
  UPK4_SetProgress(nullptr, nullptr, 0, 0);
  bar.reset();

  if (!args.quiet) {
    if (failed == 0)
      std::fprintf(stderr, "upk4: %zu entries extracted into %s\n", entries->size(),
                   args.destDir.c_str());
    else
      std::fprintf(stderr, "upk4: %zu of %zu entries failed\n", failed, entries->size());
  }
  if (otherFailure) return 5;
  return damaged ? 4 : 0;
}
