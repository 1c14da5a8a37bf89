// Every entry of an archive extracted below one destination, by a crew of
// workers: the destination and the directory entries first, on the calling
// thread, then the files on the workers (each walks down to its file,
// making what is missing on the way, without ever changing the current
// directory), the results reported in archive order. Used by the upk4 tool and the reference second stage; the
// library's exports extract one entry at a time, on the caller's thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <vector>
#include "platform/file_handle.h"
#include "platform/win_types.h"
#include "upk4/entry_extraction.h"

// How the caller takes an entry.
enum class WholeEntryKind {
  skipped,    // refused or left out: nothing is made for it, it is only reported
  directory,  // made on the calling thread, before any file
  file,       // extracted on a worker
};

struct WholeEntry {
  WholeEntryKind kind = WholeEntryKind::skipped;
  plat::WString relative;  // the name below the destination
  uint64_t size = 0;       // as the record claims: a weight only
};

struct WholeArchiveTasks {
  // A directory entry, on the calling thread.
  std::function<void(size_t item)> directory;
  // A file entry, on a worker thread (or, when the archive's names need
  // archive order, on the calling thread); destDir exists by then and must
  // not be probed or made (UnpackRequest::destinationMade).
  std::function<void(size_t item, Transfer& transfer)> file;
  // Every entry in archive order, on the calling thread; error is what left
  // file, if anything. False: no further entry is started or reported.
  std::function<bool(size_t item, std::exception_ptr error)> report;
  // The progress display, on the calling thread, now and then; may be empty.
  std::function<void()> tick;
  // Files written by the workers are closed on threads of their own, where
  // closing a written file is slow (see FileCloser); never in archive order.
  bool closeAside = plat::ClosingWrittenFilesIsSlow();
  // On a worker, for a file whose close failed after `file` returned: what
  // the close would have thrown in place, to become the entry's result.
  // Without this, it is the error given to report.
  std::function<void(size_t item, std::exception_ptr closeFailure)> closeFailed;
};

// The number of workers when the caller names none: one per processor, at
// most 8.
unsigned DefaultExtractionWorkers();

// Extracts the entries with at most `workers` workers, each with a transfer
// like the model. Entries whose names are equal without regard to case are
// extracted in archive order by one worker. When directories made first
// could give another result (a file and a directory of one name, a
// directory spelled in two ways), everything runs in archive order on the
// calling thread. Returns once every worker is joined.
void ExtractWholeArchive(const std::vector<WholeEntry>& entries, plat::WStringView destDir,
                         unsigned workers, const Transfer& model, const WholeArchiveTasks& tasks);
