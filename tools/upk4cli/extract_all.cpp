// Whole-archive extraction: the archive is opened once, each entry is
// unpacked into the directories of its name as the library's UPK4_Unpack
// unpacks it (the same results), the files by several workers, and one
// progress bar runs over the whole archive. Names ending in a separator are
// directories, whatever their attributes; a name that would leave the
// destination is refused and reported. Messages come in archive order.
#include "extract_all.h"
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>
#include "progress_bar.h"
#include "framework/file_exception.h"
#include "platform/beneath.h"
#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/window.h"
#include "upk4/archive.h"
#include "upk4/extraction_target.h"
#include "upk4/password.h"
#include "upk4/path_functions.h"
#include "upk4/unpack_entry.h"
#include "upk4/whole_archive.h"

namespace {

// The reader takes entry numbers of 16 bits.
constexpr size_t kMaxExtractable = 0xFFFF;

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

// Bytes written by the workers, for the bar: each entry's chunks as they
// are written, then the rest of the size its record claims.
struct WrittenBytes {
  std::atomic<uint64_t>& total;
  uint64_t counted = 0;  // of this entry
};

bool CountWritten(uint64_t, uint64_t written, void* userData) {
  auto* bytes = static_cast<WrittenBytes*>(userData);
  if (written > bytes->counted) {
    bytes->total.fetch_add(written - bytes->counted, std::memory_order_relaxed);
    bytes->counted = written;
  }
  return true;
}

// What happened to one entry; written by the thread that handles it.
struct EntryResult {
  bool byAttributes = false;  // a directory by its attributes only, not by its name
  bool failed = false;    // a directory that could not be made (code: the last error)
  int32_t code = 0;       // the library's result
  std::string refusal;    // the reason for a name refused before anything was made
};

}  // namespace

int ExtractAll(const ExtractAllArgs& args) {
  const plat::WString archivePath = plat::FromNativePath(args.archive);
  // Taken as a full name once: every file is opened under its full name,
  // which a relative destination would make the system work out per entry.
  const plat::WString destDir = plat::GetFullPathName(plat::FromNativePath(args.destDir));
  const plat::WString passwordText = args.password ? plat::Utf8ToUtf16(*args.password) : u"";
  // A password the keys cannot take leaves the archive without one.
  std::optional<std::string> password;
  PasswordBytes(passwordText.c_str(), password);

  std::unique_ptr<Archive> archive;
  try {
    archive = Archive::Open(archivePath, LibraryArchiveOptions(GetFileNamePart(archivePath)));
  } catch (...) {
    archive.reset();
  }
  if (!archive) {
    std::fprintf(stderr, "upk4: cannot open %s\n", args.archive.c_str());
    return 1;
  }

  const size_t count = archive->EntryCount();
  std::vector<WholeEntry> entries(count);
  std::vector<EntryResult> results(count);
  uint64_t totalBytes = 0;
  for (size_t i = 0; i < count; ++i) {
    const EntryRecord& record = archive->Entry(i);
    const plat::WString name = record.GetNameWide();
    WholeEntry& e = entries[i];
    if (i > kMaxExtractable) {
      results[i].refusal = "not extracted: only the first 65,536 entries of an archive are";
      continue;
    }
    TargetRefusal refusal;
    if (!BuildExtractionTarget(destDir, name, true, &refusal)) {
      results[i].refusal = "refused: " + plat::Utf16ToUtf8(refusal.reason) + " (code " +
                           std::to_string(refusal.error) + ")";
      continue;
    }
    const bool slash = !name.empty() && name.back() == u'\\';
    e.kind = slash || record.IsDirectory() ? WholeEntryKind::directory : WholeEntryKind::file;
    e.relative = GetPathWithoutDrive(name);
    results[i].byAttributes = !slash && record.IsDirectory();
    if (slash) continue;
    e.size = record.uncompressedSize;
    totalBytes += record.uncompressedSize;
  }

  std::optional<ProgressBar> bar;
  if (!args.quiet && (args.progress || plat::IsTerminal(plat::StandardStream::Error)))
    bar.emplace(args.archive);
  // One bar for the whole archive, in thousands of bytes.
  const uint64_t thousands = totalBytes / 1000 + (totalBytes % 1000 != 0);
  const int32_t total =
      static_cast<int32_t>(std::min<uint64_t>(thousands ? thousands : 1, 0x7FFFFFFF));
  std::atomic<uint64_t> written{0};
  int32_t drawn = -1;

  size_t failed = 0;
  bool damaged = false, otherFailure = false;
  const auto fail = [&](size_t item, const std::string& why, bool isDamage) {
    ++failed;
    (isDamage ? damaged : otherFailure) = true;
    // The message must not land inside the bar's line: the bar ends and
    // starts again below it, drawn at the next change.
    const bool hadBar = bar.has_value();
    bar.reset();
    std::fprintf(stderr, "upk4: %s: %s\n",
                 plat::ToNativePath(archive->Entry(item).GetNameWide()).c_str(), why.c_str());
    if (hadBar) bar.emplace(args.archive);
  };

  WholeArchiveTasks tasks;
  tasks.directory = [&](size_t item) {
    if (results[item].byAttributes) {
      // A directory by its attributes only: as the library unpacks it.
      UnpackRequest request;
      request.destDir = destDir.c_str();
      request.fileName = entries[item].relative.c_str();
      request.fullPath = true;
      Transfer transfer;
      bool brokenOff = false;
      results[item].code = UnpackEntry(*archive, static_cast<uint16_t>(item), password, request,
                                       transfer, brokenOff);
      return;
    }
    // Everything below the destination is made by walking down from it,
    // never through a link that anyone put there.
    if (!plat::CreateDirectoriesBeneath(destDir, entries[item].relative)) {
      results[item].failed = true;
      results[item].code = static_cast<int32_t>(plat::GetLastError());
    }
  };
  tasks.file = [&](size_t item, Transfer& transfer) {
    WrittenBytes bytes{written};
    UnpackRequest request;
    request.destDir = destDir.c_str();
    request.fileName = entries[item].relative.c_str();
    request.fullPath = true;
    request.destinationMade = true;
    request.callback = CountWritten;
    request.userData = &bytes;
    bool brokenOff = false;
    results[item].code = UnpackEntry(*archive, static_cast<uint16_t>(item), password, request,
                                     transfer, brokenOff);
    if (entries[item].size > bytes.counted)
      written.fetch_add(entries[item].size - bytes.counted, std::memory_order_relaxed);
  };
  // A file closed on another thread: a failed close is the system's cause,
  // as when UnpackEntry closes the file itself.
  tasks.closeFailed = [&](size_t item, std::exception_ptr failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const CFileException& e) {
      results[item].code = e.m_lOsError > 0 ? SystemResult(static_cast<uint32_t>(e.m_lOsError)) : -2;
    }
  };
  tasks.report = [&](size_t item, std::exception_ptr error) {
    if (!results[item].refusal.empty()) {
      fail(item, results[item].refusal, false);
      return true;
    }
    const int32_t code = error ? -2 : results[item].code;
    if (code != 0 || results[item].failed) fail(item, Reason(code), code == -2);
    return true;
  };
  if (bar) {
    tasks.tick = [&] {
      if (!bar) return;
      const uint64_t done = written.load(std::memory_order_relaxed) / 1000;
      const int32_t position =
          plat::MulDiv(static_cast<int32_t>(std::min<uint64_t>(done, total)), 65535, total);
      if (position == drawn) return;
      drawn = position;
      bar->Draw(position);
    };
  }

  Transfer model;
  model.chunkSize = kUnpackChunkSize;
  model.chunksPerTransfer = kUnpackChunksPerTransfer;
  ExtractWholeArchive(entries, destDir, args.workers ? args.workers : DefaultExtractionWorkers(),
                      model, tasks);
  bar.reset();

  if (!args.quiet) {
    if (failed == 0)
      std::fprintf(stderr, "upk4: %zu entries extracted into %s\n", count, args.destDir.c_str());
    else
      std::fprintf(stderr, "upk4: %zu of %zu entries failed\n", failed, count);
  }
  if (otherFailure) return 5;
  return damaged ? 4 : 0;
}
