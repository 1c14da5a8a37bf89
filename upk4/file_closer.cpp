#include "upk4/file_closer.h"
#include <exception>
#include "framework/file_exception.h"
#include "platform/last_error.h"
#include "upk4/path_key.h"

FileCloser::FileCloser(unsigned threads) {
  for (unsigned i = 0; i < threads; ++i) {
    try {
      m_threads.emplace_back([this] { Run(); });
    } catch (const std::exception&) {
      // No thread to be had (a system error, raised as a plain
      // std::exception on Windows: platform/threads.h), or no memory for
      // one: fewer closers; with none, files are closed as handed over.
      break;
    }
  }
}

FileCloser::~FileCloser() {
  {
    std::lock_guard<plat::Mutex> lock(m_mutex);
    m_ending = true;
  }
  m_work.NotifyAll();
  // The threads close everything queued before they end, waited for or not.
  for (plat::Thread& t : m_threads) t.Join();
}

uint32_t FileCloser::CloseNow(plat::FileHandle handle) {
  return plat::CloseFileHandle(handle) ? 0 : plat::GetLastError();
}

FileCloser::Ticket FileCloser::Hand(plat::FileHandle handle, plat::WStringView path) {
  Close close{handle, plat::WString(path), FoldedPathKey(path)};
  if (m_threads.empty()) {
    close.error = CloseNow(handle);
    close.done = true;
  }
  std::lock_guard<plat::Mutex> lock(m_mutex);
  const Ticket ticket = m_next++;
  const bool queued = !close.done;
  m_closes.emplace(ticket, std::move(close));
  if (queued) {
    m_queue.push_back(ticket);
    m_work.NotifyOne();
  }
  return ticket;
}

std::exception_ptr FileCloser::Wait(Ticket ticket) {
  std::unique_lock<plat::Mutex> lock(m_mutex);
  const auto at = m_closes.find(ticket);
  if (at == m_closes.end()) return nullptr;
  m_done.Wait(lock, [&] { return at->second.done; });
  const long error = static_cast<long>(at->second.error);
  plat::WString path = std::move(at->second.path);
  m_closes.erase(at);
  lock.unlock();
  if (error == 0) return nullptr;
  return std::make_exception_ptr(
      CFileException(CFileException::OsErrorToException(error), error, std::move(path)));
}

void FileCloser::Settle(plat::WStringView path) {
  const plat::WString key = FoldedPathKey(path);
  std::unique_lock<plat::Mutex> lock(m_mutex);
  m_done.Wait(lock, [&] {
    for (const auto& [ticket, close] : m_closes)
      if (!close.done && close.key == key) return false;
    return true;
  });
}

void FileCloser::Run() {
  std::unique_lock<plat::Mutex> lock(m_mutex);
  for (;;) {
    m_work.Wait(lock, [&] { return m_ending || !m_queue.empty(); });
    if (m_queue.empty()) return;  // ending, and nothing left to close
    const Ticket ticket = m_queue.front();
    m_queue.pop_front();
    const plat::FileHandle handle = m_closes.at(ticket).handle;
    lock.unlock();
    const uint32_t error = CloseNow(handle);
    lock.lock();
    Close& close = m_closes.at(ticket);
    close.error = error;
    close.done = true;
    m_done.NotifyAll();
  }
}
