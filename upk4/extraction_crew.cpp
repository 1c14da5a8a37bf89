#include "upk4/extraction_crew.h"
#include "upk4/file_closer.h"
#include "platform/beneath.h"
#include "platform/threads.h"
#include <algorithm>
#include <atomic>
#include <deque>
#include <iterator>
#include <optional>
#include <set>
#include <exception>
#include <vector>

namespace {

// Threads that close written files, when closing is slow: two keep a
// worker's next file from waiting on the last one's close.
constexpr unsigned kCloserThreads = 2;

class Crew {
 public:
  Crew(const ExtractionPlan& plan, size_t itemCount, const CrewTasks& tasks)
      : m_plan(plan), m_tasks(tasks), m_ended(itemCount, true), m_errors(itemCount) {
    for (const std::vector<size_t>& batch : plan.batches)
      for (size_t item : batch) m_ended[item] = false;
    for (const std::vector<size_t>& queue : plan.queues) {
      m_queues.emplace_back(queue.begin(), queue.end());
      uint64_t cost = 0;
      for (size_t b : queue) cost += plan.costs[b];
      m_left.push_back(cost);
    }
  }

  // Runs batches until none is left. Never throws.
  void Work(size_t worker, const Transfer& model, FileCloser* closer) {
    Transfer transfer;
    transfer.chunkSize = model.chunkSize;
    transfer.chunksPerTransfer = model.chunksPerTransfer;
    transfer.largeReadSize = model.largeReadSize;
    transfer.writeBehind = model.writeBehind;
    transfer.closer = closer;
    plat::BeneathCursor beneath;  // this worker's, for this run
    transfer.beneath = &beneath;
    while (const std::optional<size_t> batch = Take(worker)) {
      const std::vector<size_t>& items = m_plan.batches[*batch];
      std::vector<std::exception_ptr> errors(items.size());
      std::vector<std::pair<size_t, FileCloser::Ticket>> closes;  // of the batch's items
      for (size_t i = 0; i < items.size(); ++i) {
        if (m_stop.load(std::memory_order_relaxed)) continue;
        transfer.closeTicket.reset();
        try {
          m_tasks.work(items[i], transfer);
        } catch (...) {
          errors[i] = std::current_exception();
        }
        if (transfer.closeTicket) closes.emplace_back(i, *transfer.closeTicket);
      }
      for (const auto& [i, ticket] : closes) {
        std::exception_ptr failure = closer->Wait(ticket);
        if (!failure) continue;
        if (!m_tasks.closeFailed) {
          errors[i] = failure;
          continue;
        }
        errors[i] = nullptr;
        try {
          m_tasks.closeFailed(items[i], failure);
        } catch (...) {
          errors[i] = std::current_exception();
        }
      }
      Ended(*batch, errors);
    }
  }

  // Reports the items in order on the calling thread; false once report
  // said so. Stops the workers when it leaves, by a throw too.
  void Report() {
    struct StopOnLeave {
      std::atomic<bool>& stop;
      ~StopOnLeave() { stop = true; }
    } stopOnLeave{m_stop};
    for (size_t item = 0; item < m_ended.size(); ++item) {
      std::exception_ptr error;
      {
        std::unique_lock<plat::Mutex> lock(m_mutex);
        m_next = item;
        while (!m_ended[item]) {
          if (!m_tasks.tick) {
            m_wake.Wait(lock);
            continue;
          }
          if (!m_wake.WaitFor(lock, m_tasks.tickPeriod)) {
            lock.unlock();
            m_tasks.tick();
            lock.lock();
          }
        }
        error = std::move(m_errors[item]);
      }
      const bool goOn = m_tasks.report(item, error);
      if (m_tasks.tick) m_tasks.tick();
      if (!goOn) return;
    }
  }

 private:
  // The next batch for the worker: the first of its own queue whose lane
  // is free, else the last such of the queue with the most work left. None
  // when every batch left is in a lane that another worker holds: that
  // worker takes them.
  std::optional<size_t> Take(size_t worker) {
    std::lock_guard<plat::Mutex> lock(m_mutex);
    if (m_stop.load(std::memory_order_relaxed)) return std::nullopt;
    const auto free = [&](size_t batch) {
      const size_t lane = m_plan.lanes[batch];
      return lane == ExtractionPlan::kNoLane || m_busyLanes.count(lane) == 0;
    };
    std::deque<size_t>& own = m_queues[worker];
    auto at = std::find_if(own.begin(), own.end(), free);
    size_t from = worker;
    if (at == own.end()) {
      std::vector<size_t> others;
      for (size_t q = 0; q < m_queues.size(); ++q)
        if (q != worker && !m_queues[q].empty()) others.push_back(q);
      std::sort(others.begin(), others.end(),
                [&](size_t a, size_t b) { return m_left[a] > m_left[b]; });
      for (size_t q : others) {
        const auto back = std::find_if(m_queues[q].rbegin(), m_queues[q].rend(), free);
        if (back != m_queues[q].rend()) {
          from = q;
          at = std::prev(back.base());
          break;
        }
      }
      if (from == worker) return std::nullopt;
    }
    const size_t batch = *at;
    m_queues[from].erase(at);
    m_left[from] -= m_plan.costs[batch];
    if (m_plan.lanes[batch] != ExtractionPlan::kNoLane) m_busyLanes.insert(m_plan.lanes[batch]);
    return batch;
  }

  // The batch's items have ended (each with what left it, if anything),
  // and its lane is free again. The calling thread is woken once per batch,
  // not per item: a wake-up per file of an archive of small files cost as
  // much as a third of the time.
  void Ended(size_t batch, std::vector<std::exception_ptr>& errors) {
    std::lock_guard<plat::Mutex> lock(m_mutex);
    const std::vector<size_t>& items = m_plan.batches[batch];
    for (size_t i = 0; i < items.size(); ++i) {
      m_errors[items[i]] = std::move(errors[i]);
      m_ended[items[i]] = true;
    }
    m_busyLanes.erase(m_plan.lanes[batch]);
    if (m_ended[m_next]) m_wake.NotifyOne();
  }

  const ExtractionPlan& m_plan;
  const CrewTasks& m_tasks;
  std::atomic<bool> m_stop{false};
  plat::Mutex m_mutex;
  plat::Condition m_wake;  // the item the calling thread waits for has ended
  // Under m_mutex:
  std::vector<std::deque<size_t>> m_queues;
  std::vector<uint64_t> m_left;  // cost of each queue's batches
  std::set<size_t> m_busyLanes;  // lanes of the batches being run
  std::vector<bool> m_ended;
  std::vector<std::exception_ptr> m_errors;
  size_t m_next = 0;
};

// The workers, joined when this goes, whatever happens between.
struct Workers {
  std::vector<plat::Thread> threads;
  ~Workers() {
    for (plat::Thread& t : threads) t.Join();
  }
};

}  // namespace

void RunCrew(const ExtractionPlan& plan, size_t itemCount, unsigned workers,
             const Transfer& model, const CrewTasks& tasks) {
  Crew crew(plan, itemCount, tasks);
  const size_t wanted = std::min<size_t>({std::max(workers, 1u), plan.batches.size(),
                                          plan.queues.size()});
  // Declared before the workers: joined after them.
  std::optional<FileCloser> closer;
  if (tasks.closeAside && wanted > 0) closer.emplace(kCloserThreads);
  FileCloser* const closes = closer ? &*closer : nullptr;
  {
    Workers started;
    for (size_t w = 0; w < wanted; ++w) {
      try {
        started.threads.emplace_back([&crew, &model, closes, w] { crew.Work(w, model, closes); });
      } catch (const std::exception&) {
        break;  // no thread (see FileCloser): the others take over its queue
      }
    }
    if (started.threads.empty() && wanted > 0) crew.Work(0, model, closes);
    crew.Report();
  }
}
