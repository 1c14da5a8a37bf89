#include "upk4/write_behind.h"
#include "framework/file.h"
#include "upk4/inflater.h"

WriteBehind::WriteBehind(CFile& output, uint32_t crc)
    : output_(output), crc_(crc), thread_([this] { Run(); }) {}

WriteBehind::~WriteBehind() {
  {
    std::unique_lock<plat::Mutex> lock(mutex_);
    wake_.Wait(lock, [this] { return !busy_; });
    quit_ = true;
  }
  wake_.NotifyAll();
  thread_.Join();
}

void WriteBehind::Hand(const uint8_t* data, uint32_t size) {
  {
    std::lock_guard<plat::Mutex> lock(mutex_);
    data_ = data;
    size_ = size;
    busy_ = true;
  }
  wake_.NotifyAll();
}

bool WriteBehind::Wait() {
  std::unique_lock<plat::Mutex> lock(mutex_);
  wake_.Wait(lock, [this] { return !busy_; });
  return !failed_;
}

void WriteBehind::Run() {
  std::unique_lock<plat::Mutex> lock(mutex_);
  for (;;) {
    wake_.Wait(lock, [this] { return busy_ || quit_; });
    if (!busy_) return;
    const uint8_t* const data = data_;
    const uint32_t size = size_;
    lock.unlock();
    // The block is this thread's alone until busy_ falls.
    crc_ = UpdateCrc32(crc_, data, size);
    bool failed = false;
    try {
      output_.Write(data, size);
    } catch (...) {
      // The caller writes the block again, chunk by chunk, and meets the
      // failure on its own thread with its own error.
      failed = true;
    }
    lock.lock();
    failed_ = failed;
    busy_ = false;
    wake_.NotifyAll();
  }
}
