// Only the ISA-L backend walks in the background.
#ifdef UPK_WITH_ISAL
#include "upk4/background_walk.h"
#include <algorithm>
#include <chrono>
#include <limits>

namespace {

// Waits up to about `limit` for done() to hold without sleeping: between
// pieces, and between the calls on a piece, the other thread is back within
// tens of microseconds, far sooner than a sleeping thread wakes on a
// virtual machine. Each round gives the processor to any other thread that
// wants it, so the wait costs nothing where the threads share a core.
template <class Done>
bool SpinFor(std::chrono::microseconds limit, Done done) {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (;;) {
    for (int i = 0; i < 16; ++i) {
      if (done()) return true;
      std::this_thread::yield();
    }
    if (std::chrono::steady_clock::now() > until) return done();
  }
}

constexpr std::chrono::microseconds kSpin{300};
constexpr std::chrono::milliseconds kIdle{100};

}  // namespace

BackgroundWalk::BackgroundWalk() = default;

BackgroundWalk::~BackgroundWalk() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BackgroundWalk::Start(DeflateWalker* walker, const uint8_t* data, size_t size,
                           uint64_t start) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!running_) {
      // The first piece, or the thread ended after a long idle time.
      lock.unlock();
      if (thread_.joinable()) thread_.join();
      thread_ = std::thread([this] { Run(); });
      lock.lock();
      running_ = true;
    }
    walker_ = walker;
    data_ = data;
    size_ = size;
    start_ = start;
    walkedBits_ = 0;  // nothing of this piece yet
    busy_ = true;
    refused_ = false;
    stop_ = false;
  }
  wake_.notify_all();
}

bool BackgroundWalk::WaitFor(uint64_t end) {
  const auto done = [&] { return !busy_ || refused_ || walkedBits_ >= end * 8; };
  if (!SpinFor(kSpin, done)) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, done);
  }
  return !refused_;
}

void BackgroundWalk::Stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  stop_ = true;
  wake_.wait(lock, [this] { return !busy_; });
}

void BackgroundWalk::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!busy_ && !quit_) {
      lock.unlock();
      SpinFor(kSpin, [this] { return busy_.load(); });
      lock.lock();
    }
    // A thread with nothing to do for a while ends, so that none outlives
    // the work by long (even for a caller that never closes its archive).
    if (!wake_.wait_for(lock, kIdle, [this] { return quit_ || busy_.load(); }) || quit_) {
      running_ = false;
      return;
    }
    DeflateWalker* const walker = walker_;
    const uint8_t* const data = data_;
    const size_t size = size_;
    const uint64_t start = start_;
    bool accepted = true;
    for (size_t at = 0; at < size && accepted && !stop_;) {
      lock.unlock();
      const size_t n = std::min(kSlice, size - at);
      accepted = walker->Walk(data + at, n);
      at += n;
      const uint64_t walked = walker->Ended() ? std::numeric_limits<uint64_t>::max()
                                              : (start + at) * 8 - walker->HeldBits();
      lock.lock();
      walkedBits_ = walked;
      refused_ = !accepted;
      wake_.notify_all();
    }
    busy_ = false;
    wake_.notify_all();
  }
}
#endif
