// Threads, a lock and a condition to wait on. On Windows they are the
// system's own (threads of the C runtime, slim reader/writer locks and
// condition variables), so that a Windows binary needs no thread library of
// the C++ runtime's (winpthreads, 35 KB of upk4.dll); on POSIX they are the
// standard library's, which the thread sanitizer knows.
//
// Every Thread has one owner, which joins it: destroying a thread that was
// started and not joined ends the process, as it does for std::thread.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>  // std::lock_guard and std::unique_lock, used with Mutex
#if !defined(_WIN32)
#include <condition_variable>
#include <thread>
#endif

namespace plat {

// Meets the standard's Lockable, for std::lock_guard and std::unique_lock.
// Not recursive.
class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock();
  bool try_lock();
  void unlock();

 private:
  friend class Condition;
#if defined(_WIN32)
  void* m_lock = nullptr;  // an SRWLOCK; all zero is its unlocked state
#else
  std::mutex m_lock;
#endif
};

// Waits under a locked Mutex; spurious wake-ups are possible, as with
// std::condition_variable.
class Condition {
 public:
  Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  void Wait(std::unique_lock<Mutex>& lock);
  template <class Ready>
  void Wait(std::unique_lock<Mutex>& lock, Ready ready) {
    while (!ready()) Wait(lock);
  }
  // False when the time passed without a wake-up.
  bool WaitFor(std::unique_lock<Mutex>& lock, std::chrono::milliseconds period);
  void NotifyOne();
  void NotifyAll();

 private:
#if defined(_WIN32)
  void* m_condition = nullptr;  // a CONDITION_VARIABLE; all zero is its initial state
#else
  std::condition_variable m_condition;
#endif
};

class Thread {
 public:
  Thread() = default;
  // Starts body on a new thread. Throws a std::exception when no thread can
  // be had (a system error or no memory). An exception leaving body ends
  // the process.
  explicit Thread(std::function<void()> body);
  Thread(Thread&& other) noexcept;
  Thread& operator=(Thread&& other) noexcept;
  ~Thread();

  bool Joinable() const;
  // Waits for the thread's end.
  void Join();

 private:
#if defined(_WIN32)
  void* m_handle = nullptr;
#else
  std::thread m_thread;
#endif
};

// Processors this process may run on, at least 1.
unsigned ProcessorCount();

}  // namespace plat
