// How the files of a whole archive are shared out among the workers that
// extract them. Pure bookkeeping over names and sizes: nothing here touches
// the archive or the file system.
//
// Entries whose names are equal without regard to case (after "\" and "/",
// empty and "." components are taken alike) land on one file: they form a
// unit that one worker writes in archive order. The units of one directory
// go in batches of a few dozen to one worker (files made in one directory by
// several threads queue on that directory's lock); a large unit is a batch
// of its own so that large entries spread. Each worker starts on its own
// queue of batches, in archive order; one whose queue runs dry takes the
// last batch of the fullest other queue. The small files of one directory
// are never written by two workers at once: each worker remembers the
// listing of the directories it creates in, and a listing that another
// thread keeps changing is read again for every file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>
#include "platform/win_types.h"
#include "upk4/path_key.h"

// One file to extract: its position in the caller's list (the order in
// which results are reported), its name below the destination ("\" or "/"
// separators; the caller's string, kept while planning), and the size its
// record claims (a weight only).
struct PlannedFile {
  size_t item = 0;
  plat::WStringView relative;
  uint64_t size = 0;
};

struct ExtractionPlan {
  // Items of the caller's list, each batch in archive order.
  std::vector<std::vector<size_t>> batches;
  // Per worker, the batches it starts with (indices into batches).
  std::vector<std::vector<size_t>> queues;
  // The weight of each batch: bytes plus a share for making each file.
  std::vector<uint64_t> costs;
  // Of each batch, its directory's lane: batches of one lane run one at a
  // time. kNoLane for a batch of one large unit, which may run beside any.
  std::vector<size_t> lanes;
  static constexpr size_t kNoLane = SIZE_MAX;
};

// Whether extracting directories first and files afterwards, in any order,
// could give another result than extracting everything in archive order:
// a file whose name is also a directory of another name (of a directory
// entry, or above any entry), or one directory spelled in two ways (the
// first spelling made names it on a file system that keeps case).
// directories: the names of directory entries; files: of file entries.
bool OrderMatters(const std::vector<plat::WStringView>& directories,
                  const std::vector<plat::WStringView>& files);

// Shares the files among workers (at least 1).
ExtractionPlan PlanExtraction(const std::vector<PlannedFile>& files, unsigned workers);
