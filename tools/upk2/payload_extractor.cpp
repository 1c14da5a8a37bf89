#include "payload_extractor.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "package_archive.h"
#include "platform/code_page.h"
#include "platform/dir_tree.h"
#include "platform/last_error.h"
#include "platform/windows_names.h"
#include "upk4/archive.h"
#include "upk4/entry_extraction.h"
#include "upk4/path_functions.h"
#include "upk4/whole_archive.h"

namespace upk2 {

namespace {

bool IsDotsAndBlanksOnly(plat::WStringView component) {
  for (char16_t c : component) {
    if (c != u'.' && c != u' ') return false;
  }
  return true;
}

}  // namespace

bool IsSafeEntryName(plat::WStringView name) {
  if (name.empty() || name.front() == u'\\' || name.front() == u'/') return false;
  if (name.find(u':') != plat::WStringView::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t stop = name.find_first_of(u"\\/", start);
    if (stop == plat::WStringView::npos) stop = name.size();
    const plat::WStringView component = name.substr(start, stop - start);
    if (!component.empty() && component != u"." && IsDotsAndBlanksOnly(component)) return false;
    start = stop + 1;
  }
  return true;
}

bool IsReservedEntryName(plat::WStringView name) {
  // "name" and ".\name" both land on the file itself.
  while (name.size() >= 2 && name[0] == u'.' && (name[1] == u'\\' || name[1] == u'/')) {
    name.remove_prefix(2);
  }
  for (plat::WStringView reserved : {plat::WStringView(u"upk2.dll"), plat::WStringView(u"upk4.dll"),
                                     plat::WStringView(u"qx.tmp"),
                                     plat::WStringView(plat::kDirectoryLockName)}) {
    if (plat::CollateWideNoCase(name, reserved) == 0) return true;
  }
  return false;
}

bool IsSecondStageEntry(plat::WStringView name) {
  return plat::CollateWideNoCase(name, kSecondStageEntry) == 0;
}

ExtractSummary ExtractPayload(const OpenedPackage& package, plat::WStringView destDir) {
  const Archive& archive = *package.archive;
  const size_t count = archive.EntryCount();
  if (count > 0xFFFF) throw Upk2Error("too many entries in the package archive");

  std::vector<uint16_t> wanted;
  for (size_t i = 0; i < count; ++i) {
    const plat::WString name = archive.Entry(i).GetNameWide();
    if (IsSecondStageEntry(name)) continue;
    if (!IsSafeEntryName(name)) {
      throw Upk2Error("unsafe entry name refused: " + plat::WideToAnsi(name));
    }
    if (IsReservedEntryName(name)) {
      throw Upk2Error("entry would replace a file of Setup: " + plat::WideToAnsi(name));
    }
    if (plat::kWindowsNamesApply) {
      if (const std::optional<plat::WString> problem = plat::WindowsNameProblem(name))
        throw Upk2Error("entry name refused: " + plat::WideToAnsi(name) + ": " +
                        plat::WideToAnsi(*problem));
    }
    wanted.push_back(static_cast<uint16_t>(i));
  }

  const plat::WString dest(destDir);
  std::optional<std::string_view> password;
  if (package.password) password = *package.password;
  // Per entry, written by the thread that extracts it.
  struct Result {
    bool ok = false;
    uint32_t error = 0;  // the thread's last error after a failure
    std::exception_ptr exception;
  };
  std::vector<Result> results(wanted.size());
  std::vector<WholeEntry> entries(wanted.size());
  for (size_t item = 0; item < wanted.size(); ++item) {
    const EntryRecord& record = archive.Entry(wanted[item]);
    const plat::WString name = record.GetNameWide();
    WholeEntry& e = entries[item];
    e.kind = record.IsDirectory() ? WholeEntryKind::directory : WholeEntryKind::file;
    e.relative = GetPathWithoutDrive(name);
    e.size = record.uncompressedSize;
  }

  // One entry as the library extracts it; the destination is made by the
  // calling thread before any worker starts.
  const auto extract = [&](size_t item, Transfer& transfer, bool onCallingThread) {
    plat::SetLastError(0);
    results[item].ok = ExtractEntry(archive, wanted[item], password, dest.c_str(), true, nullptr,
                                    nullptr, nullptr, transfer, nullptr, nullptr, onCallingThread);
    results[item].error = plat::GetLastError();
  };
  ExtractSummary summary;
  std::exception_ptr failure;
  WholeArchiveTasks tasks;
  tasks.directory = [&](size_t item) {
    Transfer transfer;
    try {
      extract(item, transfer, true);
    } catch (...) {
      results[item].exception = std::current_exception();
    }
  };
  tasks.file = [&](size_t item, Transfer& transfer) { extract(item, transfer, false); };
  // The first entry that failed, in archive order, ends the extraction with
  // its error, as when the entries were extracted one after another.
  tasks.report = [&](size_t item, std::exception_ptr error) {
    if (!error) error = results[item].exception;
    if (error) {
      failure = error;
      return false;
    }
    if (!results[item].ok) {
      // The system's cause when there is one (a name too long, a full
      // disk); else the entry's data failed its check.
      const uint32_t code = results[item].error;
      std::string text = "cannot extract " + plat::WideToAnsi(archive.Entry(wanted[item]).GetNameWide());
      if (code != 0) {
        plat::WString reason = plat::FormatSystemMessage(code);
        while (!reason.empty() && (reason.back() == u'\n' || reason.back() == u'\r')) reason.pop_back();
        text += ": " + plat::WideToAnsi(reason) + " (code " + std::to_string(code) + ")";
      }
      failure = std::make_exception_ptr(Upk2Error(text));
      return false;
    }
    ++(entries[item].kind == WholeEntryKind::directory ? summary.directories : summary.files);
    return true;
  };
  ExtractWholeArchive(entries, dest, DefaultExtractionWorkers(), Transfer(), tasks);
  if (failure) std::rethrow_exception(failure);
  return summary;
}

}  // namespace upk2
