// POSIX: the standard library's threads, mutex and condition variable, which
// the thread sanitizer follows.
#include "platform/threads.h"

#include <exception>
#include <utility>

namespace plat {

void Mutex::lock() { m_lock.lock(); }
bool Mutex::try_lock() { return m_lock.try_lock(); }
void Mutex::unlock() { m_lock.unlock(); }

void Condition::Wait(std::unique_lock<Mutex>& lock) {
  std::unique_lock<std::mutex> inner(lock.mutex()->m_lock, std::adopt_lock);
  m_condition.wait(inner);
  inner.release();  // still locked, and still the caller's lock
}

bool Condition::WaitFor(std::unique_lock<Mutex>& lock, std::chrono::milliseconds period) {
  std::unique_lock<std::mutex> inner(lock.mutex()->m_lock, std::adopt_lock);
  const bool woke = m_condition.wait_for(inner, period) == std::cv_status::no_timeout;
  inner.release();
  return woke;
}

void Condition::NotifyOne() { m_condition.notify_one(); }
void Condition::NotifyAll() { m_condition.notify_all(); }

Thread::Thread(std::function<void()> body) : m_thread(std::move(body)) {}
Thread::Thread(Thread&& other) noexcept = default;
Thread& Thread::operator=(Thread&& other) noexcept = default;
Thread::~Thread() = default;  // std::thread ends the process when still joinable

bool Thread::Joinable() const { return m_thread.joinable(); }
void Thread::Join() { m_thread.join(); }

unsigned ProcessorCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? count : 1;
}

}  // namespace plat
