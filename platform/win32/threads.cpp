// Win32 system calls: threads of the C runtime (_beginthreadex, so that the
// runtime's per-thread state is set up and freed), slim reader/writer locks
// and condition variables.
#include "platform/win32/windows_api.h"

#include <process.h>

#include <algorithm>
#include <bit>
#include <exception>
#include <memory>
#include <utility>

#include "platform/runtime_fault.h"
#include "platform/threads.h"

namespace plat {
namespace {

PSRWLOCK AsLock(void** lock) { return reinterpret_cast<PSRWLOCK>(lock); }
PCONDITION_VARIABLE AsCondition(void** condition) {
  return reinterpret_cast<PCONDITION_VARIABLE>(condition);
}

// Waiting sets the thread's last error (ERROR_TIMEOUT); a caller's error
// survives it.
bool SleepOn(void** condition, void** lock, DWORD milliseconds) {
  const DWORD saved = ::GetLastError();
  const bool woke = ::SleepConditionVariableSRW(AsCondition(condition), AsLock(lock),
                                                milliseconds, 0) != FALSE ||
                    ::GetLastError() != ERROR_TIMEOUT;
  ::SetLastError(saved);
  return woke;
}

// noexcept: an exception leaving the body ends the process.
unsigned __stdcall RunBody(void* argument) noexcept {
  const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

static_assert(sizeof(void*) == sizeof(SRWLOCK) && sizeof(void*) == sizeof(CONDITION_VARIABLE));

void Mutex::lock() { ::AcquireSRWLockExclusive(AsLock(&m_lock)); }
bool Mutex::try_lock() { return ::TryAcquireSRWLockExclusive(AsLock(&m_lock)) != FALSE; }
void Mutex::unlock() { ::ReleaseSRWLockExclusive(AsLock(&m_lock)); }

void Condition::Wait(std::unique_lock<Mutex>& lock) {
  SleepOn(&m_condition, &lock.mutex()->m_lock, INFINITE);
}

bool Condition::WaitFor(std::unique_lock<Mutex>& lock, std::chrono::milliseconds period) {
  // Below INFINITE, which would never time out.
  const auto milliseconds = std::clamp<std::chrono::milliseconds::rep>(period.count(), 0, INFINITE - 1);
  return SleepOn(&m_condition, &lock.mutex()->m_lock, static_cast<DWORD>(milliseconds));
}

void Condition::NotifyOne() { ::WakeConditionVariable(AsCondition(&m_condition)); }
void Condition::NotifyAll() { ::WakeAllConditionVariable(AsCondition(&m_condition)); }

Thread::Thread(std::function<void()> body) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  const uintptr_t handle = ::_beginthreadex(nullptr, 0, &RunBody, owned.get(), 0, nullptr);
  if (handle == 0) throw RuntimeFault("no thread could be started");
  owned.release();  // the thread's own now
  m_handle = reinterpret_cast<void*>(handle);
}

Thread::Thread(Thread&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
  if (Joinable()) std::terminate();
  m_handle = std::exchange(other.m_handle, nullptr);
  return *this;
}

Thread::~Thread() {
  if (Joinable()) std::terminate();
}

bool Thread::Joinable() const { return m_handle != nullptr; }

void Thread::Join() {
  if (!Joinable()) throw RuntimeFault("no thread to join");
  ::WaitForSingleObject(m_handle, INFINITE);
  ::CloseHandle(m_handle);
  m_handle = nullptr;
}

unsigned ProcessorCount() {
  DWORD_PTR process = 0, system = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0)
    return static_cast<unsigned>(std::popcount(static_cast<uintptr_t>(process)));
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

}  // namespace plat
