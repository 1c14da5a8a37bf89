// The worker threads of a whole-archive extraction, and the calling
// thread's side: it hands out the batches of a plan, collects each item's
// end, and reports the items strictly in their order, as soon as all
// before them have ended.
//
// Threads. The crew's workers are started and joined inside Run, on every
// path: none outlives it. Each worker has a Transfer of its own (copied
// from the model, its block its own). What they share: the queues of
// batches and the record of ended items, under the crew's mutex; each
// item's own result slot in the caller's hands is written by the one
// worker that runs the item, before the item is marked ended under the
// mutex, and read by the calling thread only after it has seen that mark.
// The file closer's threads, when there are any, are joined after the
// workers, before Run returns.
#pragma once
#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include "upk4/entry_extraction.h"
#include "upk4/extraction_plan.h"

struct CrewTasks {
  // Runs one item on a worker. An exception leaving it ends the item with
  // that exception, given to report.
  std::function<void(size_t item, Transfer& transfer)> work;
  // Called on the calling thread for every item in order (those of no
  // batch too, at their place), once it and all before it have ended.
  // error: what left work, if anything. False: no item after this one is
  // started any more, and no further item is reported.
  std::function<bool(size_t item, std::exception_ptr error)> report;
  // Called on the calling thread every tickPeriod while it waits, and after
  // each report (the progress bar); may be empty.
  std::function<void()> tick;
  std::chrono::milliseconds tickPeriod{100};
  // Written files are closed on two threads of the crew's own (files that
  // work hands over through its transfer's closer), collected at the end of
  // each batch, before its items are marked ended.
  bool closeAside = false;
  // On the worker, for an item whose file failed to close after its work
  // ended: what the close would have thrown in place. It wins over the
  // item's own result, as a failed close came before anything after it.
  // Without this, the failure is the item's error given to report.
  std::function<void(size_t item, std::exception_ptr closeFailure)> closeFailed;
};

// Runs the plan's batches on at most `workers` threads (no more than there
// are batches) and reports items 0 to itemCount-1. When no thread can be
// had at all, the calling thread runs the batches itself. The items reported
// after a false from report are none; Run returns once every worker is
// joined.
void RunCrew(const ExtractionPlan& plan, size_t itemCount, unsigned workers,
             const Transfer& model, const CrewTasks& tasks);
