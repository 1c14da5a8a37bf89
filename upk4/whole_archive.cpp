#include "upk4/whole_archive.h"
#include <algorithm>
#include "platform/threads.h"
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

}  // namespace

unsigned DefaultExtractionWorkers() {
  const unsigned processors = plat::ProcessorCount();
  return std::clamp(processors, 1u, kMaxDefaultWorkers);
}

void ExtractWholeArchive(const std::vector<WholeEntry>& entries, plat::WStringView destDir,
                         unsigned workers, const Transfer& model, const WholeArchiveTasks& tasks) {
  std::vector<plat::WStringView> directories, files;
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

  // Directory entries before files, on this thread. The directories above
  // a file are made by the worker that writes it, as it walks down (an
  // entry refused before its file is made, for want of a password, makes
  // none, as in archive order); with one spelling per directory, workers
  // that meet on the way make one directory between them.
  std::vector<PlannedFile> planned;
  for (size_t item = 0; item < entries.size(); ++item) {
    const WholeEntry& e = entries[item];
    if (e.kind == WholeEntryKind::directory) tasks.directory(item);
    if (e.kind == WholeEntryKind::file) planned.push_back({item, e.relative, e.size});
  }

  Transfer crewModel;
  crewModel.chunkSize = model.chunkSize;
  crewModel.chunksPerTransfer = model.chunksPerTransfer;
  crewModel.largeReadSize = model.largeReadSize;
  // With as many workers as processors, a writer thread per entry would
  // only take turns with them.
  crewModel.writeBehind = model.writeBehind && workers < plat::ProcessorCount();
  const ExtractionPlan plan = PlanExtraction(planned, workers);
  CrewTasks crewTasks;
  crewTasks.work = tasks.file;
  crewTasks.report = tasks.report;
  crewTasks.tick = tasks.tick;
  crewTasks.closeAside = tasks.closeAside;
  crewTasks.closeFailed = tasks.closeFailed;
  RunCrew(plan, entries.size(), workers, crewModel, crewTasks);
}
