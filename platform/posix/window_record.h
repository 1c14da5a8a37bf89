// The window record and the per-thread queue of the POSIX window model.
#pragma once
#include <cstdint>
#include <deque>
#include "platform/window.h"

namespace plat {

// A thread's queue of posted messages. Every module (program or loaded
// library) links its own copy of this layer; so that a thread has one queue
// as on Windows, a window records the queue of the thread that made it, and
// a module that is handed a window of its thread joins that queue.
struct MessageQueue {
  std::deque<Message> messages;
};
// The calling thread's queue as this module sees it.
MessageQueue* ThreadMessageQueue();

struct Window {
  WindowProc proc;
  uint32_t redrawCount = 0;  // RedrawWindow calls seen, for progress displays
  MessageQueue* queue = ThreadMessageQueue();  // the creating thread's queue
};

}  // namespace plat
