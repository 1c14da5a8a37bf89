#include "upk4/extraction_crew.h"
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace {

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
  void Work(size_t worker, const Transfer& model) {
    Transfer transfer;
    transfer.chunkSize = model.chunkSize;
    transfer.chunksPerTransfer = model.chunksPerTransfer;
    transfer.largeReadSize = model.largeReadSize;
    transfer.writeBehind = model.writeBehind;
    while (const std::optional<size_t> batch = Take(worker)) {
      for (size_t item : m_plan.batches[*batch]) {
        std::exception_ptr error;
        if (!m_stop.load(std::memory_order_relaxed)) {
          try {
            m_tasks.work(item, transfer);
          } catch (...) {
            error = std::current_exception();
          }
        }
        Ended(item, std::move(error));
      }
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
        std::unique_lock<std::mutex> lock(m_mutex);
        m_next = item;
        while (!m_ended[item]) {
          if (!m_tasks.tick) {
            m_wake.wait(lock);
            continue;
          }
          if (m_wake.wait_for(lock, m_tasks.tickPeriod) == std::cv_status::timeout) {
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
  // The next batch for the worker: the front of its own queue, else the
  // back of the queue with the most work left.
  std::optional<size_t> Take(size_t worker) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop.load(std::memory_order_relaxed)) return std::nullopt;
    size_t from = worker;
    if (m_queues[from].empty()) {
      for (size_t q = 0; q < m_queues.size(); ++q)
        if (!m_queues[q].empty() && (m_queues[from].empty() || m_left[q] > m_left[from])) from = q;
      if (m_queues[from].empty()) return std::nullopt;
    }
    const size_t batch = from == worker ? m_queues[from].front() : m_queues[from].back();
    if (from == worker)
      m_queues[from].pop_front();
    else
      m_queues[from].pop_back();
    m_left[from] -= m_plan.costs[batch];
    return batch;
  }

  void Ended(size_t item, std::exception_ptr error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_errors[item] = std::move(error);
    m_ended[item] = true;
    if (item == m_next) m_wake.notify_one();
  }

  const ExtractionPlan& m_plan;
  const CrewTasks& m_tasks;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::condition_variable m_wake;  // the item the calling thread waits for has ended
  // Under m_mutex:
  std::vector<std::deque<size_t>> m_queues;
  std::vector<uint64_t> m_left;  // cost of each queue's batches
  std::vector<bool> m_ended;
  std::vector<std::exception_ptr> m_errors;
  size_t m_next = 0;
};

// The workers, joined when this goes, whatever happens between.
struct Workers {
  std::vector<std::thread> threads;
  ~Workers() {
    for (std::thread& t : threads) t.join();
  }
};

}  // namespace

void RunCrew(const ExtractionPlan& plan, size_t itemCount, unsigned workers,
             const Transfer& model, const CrewTasks& tasks) {
  Crew crew(plan, itemCount, tasks);
  const size_t wanted = std::min<size_t>({std::max(workers, 1u), plan.batches.size(),
                                          plan.queues.size()});
  {
    Workers started;
    for (size_t w = 0; w < wanted; ++w) {
      try {
        started.threads.emplace_back([&crew, &model, w] { crew.Work(w, model); });
      } catch (const std::system_error&) {
        break;  // fewer workers: the others take over its queue
      }
    }
    if (started.threads.empty() && wanted > 0) crew.Work(0, model);
    crew.Report();
  }
}
