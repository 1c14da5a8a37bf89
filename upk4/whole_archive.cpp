#include "upk4/whole_archive.h"
#include <algorithm>
#include <thread>
#include <unordered_set>
#include "platform/beneath.h"
#include "platform/native_path.h"
#include "upk4/extraction_crew.h"
#include "upk4/extraction_plan.h"
#include "upk4/path_functions.h"

namespace {

constexpr unsigned kMaxDefaultWorkers = 8;

// Everything in archive order on the calling thread.
void ExtractInOrder(const std::vector<WholeEntry>& entries, const Transfer& model,
                    const WholeArchiveTasks& tasks) {
  Transfer transfer;
  transfer.chunkSize = model.chunkSize;
  transfer.chunksPerTransfer = model.chunksPerTransfer;
  transfer.largeReadSize = model.largeReadSize;
  for (size_t item = 0; item < entries.size(); ++item) {
    std::exception_ptr error;
    if (entries[item].kind == WholeEntryKind::directory) tasks.directory(item);
    if (entries[item].kind == WholeEntryKind::file) {
      try {
        tasks.file(item, transfer);
      } catch (...) {
        error = std::current_exception();
      }
    }
    const bool goOn = tasks.report(item, error);
    if (tasks.tick) tasks.tick();
    if (!goOn) return;
  }
}

// The parent of a name ("\" or "/" separators), empty when none.
plat::WString ParentOf(plat::WStringView relative) {
  size_t end = relative.size();
  while (end > 0 && !plat::IsPathSeparator(relative[end - 1])) --end;
  while (end > 0 && plat::IsPathSeparator(relative[end - 1])) --end;
  return plat::WString(relative.substr(0, end));
}

}  // namespace

unsigned DefaultExtractionWorkers() {
  const unsigned processors = std::thread::hardware_concurrency();
  return std::clamp(processors, 1u, kMaxDefaultWorkers);
}

void ExtractWholeArchive(const std::vector<WholeEntry>& entries, plat::WStringView destDir,
                         unsigned workers, const Transfer& model, const WholeArchiveTasks& tasks) {
  std::vector<plat::WString> directories, files;
  for (const WholeEntry& e : entries) {
    if (e.kind == WholeEntryKind::directory) directories.push_back(e.relative);
    if (e.kind == WholeEntryKind::file) files.push_back(e.relative);
  }
  // The destination itself, as named, once anything goes into it.
  if (!destDir.empty() && (!directories.empty() || !files.empty()))
    CreateDirectoryTree(destDir);
  if (OrderMatters(directories, files)) {
    ExtractInOrder(entries, model, tasks);
    return;
  }

  // Directories before files, all on this thread: the workers only walk
  // down through them. What cannot be made here fails again, and is
  // reported, with the entry that needs it.
  std::vector<PlannedFile> planned;
  std::unordered_set<plat::WString> made;
  for (size_t item = 0; item < entries.size(); ++item) {
    const WholeEntry& e = entries[item];
    if (e.kind == WholeEntryKind::directory) tasks.directory(item);
    if (e.kind != WholeEntryKind::file) continue;
    planned.push_back({item, e.relative, e.size});
    if (!e.makeDirectories) continue;
    const plat::WString parent = ParentOf(e.relative);
    if (!parent.empty() && made.insert(FoldedPathKey(parent)).second)
      plat::CreateDirectoriesBeneath(destDir, parent);
  }

  Transfer crewModel;
  crewModel.chunkSize = model.chunkSize;
  crewModel.chunksPerTransfer = model.chunksPerTransfer;
  crewModel.largeReadSize = model.largeReadSize;
  // With as many workers as processors, a writer thread per entry would
  // only take turns with them.
  crewModel.writeBehind = model.writeBehind && workers < std::thread::hardware_concurrency();
  const ExtractionPlan plan = PlanExtraction(planned, workers);
  CrewTasks crewTasks;
  crewTasks.work = tasks.file;
  crewTasks.report = tasks.report;
  crewTasks.tick = tasks.tick;
  RunCrew(plan, entries.size(), workers, crewModel, crewTasks);
}
