// Written files closed on threads of their own. Where closing a file takes
// long (a scanner inspecting each file as it is closed), the thread that
// wrote it goes on to the next file while the close runs here; the result
// of every close is collected by whoever reports the file's result.
//
// Threads. The closer's threads are started by its constructor and joined
// by its destructor, which first closes every file still handed to it:
// none outlives it. Everything it holds is under its mutex.
#pragma once
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <vector>
#include "platform/file_handle.h"
#include "platform/threads.h"
#include "platform/win_types.h"

class FileCloser {
 public:
  using Ticket = uint64_t;

  // With no thread (none asked for, or none could be started), each file is
  // closed as it is handed over.
  explicit FileCloser(unsigned threads);
  ~FileCloser();
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

  // Takes over the open handle of the file at path (its full name).
  Ticket Hand(plat::FileHandle handle, plat::WStringView path);
  // Waits for that file's close: null when it closed, else the file
  // exception that the close would have thrown where the file was written.
  // Each ticket is waited for once.
  std::exception_ptr Wait(Ticket ticket);
  // Waits until no file of this name (without regard to case) is still to
  // be closed: before a file of that name is made again.
  void Settle(plat::WStringView path);

 private:
  struct Close {
    plat::FileHandle handle;
    plat::WString path;
    plat::WString key;  // the name folded
    bool done = false;
    uint32_t error = 0;
  };

  void Run();
  static uint32_t CloseNow(plat::FileHandle handle);

  plat::Mutex m_mutex;
  plat::Condition m_work;  // a close was handed over, or the closer ends
  plat::Condition m_done;  // a close ended
  std::deque<Ticket> m_queue;
  std::map<Ticket, Close> m_closes;  // handed over and not yet waited for
  Ticket m_next = 0;
  bool m_ending = false;
  std::vector<plat::Thread> m_threads;
};
