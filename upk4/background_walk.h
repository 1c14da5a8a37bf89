// A second thread that walks large pieces of input (DeflateWalker) while
// the calling thread decodes them, so that checking the block headers costs
// little time of its own on a machine with a free core.
//
// One piece at a time: Start hands it over and returns at once; WaitFor
// waits until the walk has checked the stream up to a given byte. Until the
// walk has taken all of its piece (WaitFor up to the piece's end, or Stop),
// the piece and the walker belong to the thread and must stay untouched.
// The thread starts with the first piece and ends after a while without one.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include "upk4/deflate_walker.h"

class BackgroundWalk {
 public:
  BackgroundWalk();
  ~BackgroundWalk();
  BackgroundWalk(const BackgroundWalk&) = delete;
  BackgroundWalk& operator=(const BackgroundWalk&) = delete;

  // The piece begins `start` bytes into the stream.
  void Start(DeflateWalker* walker, const uint8_t* data, size_t size, uint64_t start);
  // Waits until every bit before byte `end` of the stream has been walked,
  // or the piece has been taken whole. False if the walk refused the stream
  // (anywhere in what it has seen).
  bool WaitFor(uint64_t end);
  // Ends the walk of the current piece where it is and waits for the thread
  // to let go of it.
  void Stop();

 private:
  void Run();

  // Input is walked in slices of this size; progress is known after each.
  static constexpr size_t kSlice = 16 * 1024;

  std::mutex mutex_;
  std::condition_variable wake_;
  DeflateWalker* walker_ = nullptr;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  uint64_t start_ = 0;
  // What the thread has done, readable without the lock so that a short
  // wait need not sleep.
  std::atomic<uint64_t> walkedBits_{0};  // bits of the stream walked so far
  std::atomic<bool> busy_{false};        // a piece is waiting or being walked
  std::atomic<bool> refused_{false};
  std::atomic<bool> stop_{false};
  bool quit_ = false;
  bool running_ = false;  // the thread is there and will take a piece
  std::thread thread_;
};
