// POSIX system calls: none; the small window/message model: a record with a
// message procedure and a per-thread queue of posted messages.
#include "platform/window.h"
#include "platform/posix/window_record.h"

#include <cstdio>
#include <deque>
#include <string>

#include "platform/code_page.h"
#include "platform/posix/thread_slot.h"

namespace plat {
namespace {
// This module's queue of the thread and the queue it joined, if any; kept
// without a thread_local destructor (thread_slot.h).
struct ThreadQueues {
  MessageQueue own;
  MessageQueue* joined = nullptr;
};
ThreadQueues& Queues() {
  static posix::ThreadSlot<ThreadQueues> slot;
  return slot.Get();
}

// A window made by another module of this thread carries that module's
// queue: from then on this module posts to and drains that one, taking along
// whatever it had queued itself.
void JoinQueueOf(WindowHandle window) {
  ThreadQueues& queues = Queues();
  if (queues.joined || !window || !window->queue || window->queue == &queues.own) return;
  queues.joined = window->queue;
  for (const Message& msg : queues.own.messages) queues.joined->messages.push_back(msg);
  queues.own.messages.clear();
}
}  // namespace

MessageQueue* ThreadMessageQueue() {
  ThreadQueues& queues = Queues();
  return queues.joined ? queues.joined : &queues.own;
}

LRESULT SendMessage(WindowHandle window, uint32_t message, WPARAM w, LPARAM l) {
  JoinQueueOf(window);
  if (!window || !window->proc) return 0;
  return window->proc(window, message, w, l);
}

bool PostMessage(WindowHandle window, uint32_t message, WPARAM w, LPARAM l) {
  if (!window) return false;
  JoinQueueOf(window);
  ThreadMessageQueue()->messages.push_back(Message{window, message, w, l});
  return true;
}

bool PeekMessage(Message* out) {
  std::deque<Message>& queue = ThreadMessageQueue()->messages;
  if (queue.empty()) return false;
  Message msg = queue.front();
  queue.pop_front();
  if (out) *out = msg;
  return true;
}

void TranslateMessage(const Message& /*msg*/) {}

LRESULT DispatchMessage(const Message& msg) {
  return SendMessage(msg.window, msg.message, msg.wParam, msg.lParam);
}

bool RedrawWindow(WindowHandle window, uint32_t /*flags*/) {
  if (!window) return false;
  JoinQueueOf(window);
  ++window->redrawCount;
  return true;
}

struct MessageWindow::State {
  Window record;
};

MessageWindow::MessageWindow() : m_state(std::make_unique<State>()) {
  m_state->record.proc = [this](WindowHandle window, uint32_t message, WPARAM w,
                                LPARAM l) -> LRESULT {
    return proc ? proc(window, message, w, l) : 0;
  };
}
MessageWindow::~MessageWindow() = default;
WindowHandle MessageWindow::Handle() const { return &m_state->record; }
uint32_t MessageWindow::RedrawCount() const { return m_state->record.redrawCount; }

bool IsWindowStationVisible() { return true; }

int MessageBox(const char16_t* text, const char16_t* caption, uint32_t /*style*/) {
  std::string line = Utf16ToUtf8(caption ? WStringView(caption) : WStringView(u"Error"));
  line += ": ";
  if (text) line += Utf16ToUtf8(text);
  if (line.empty() || line.back() != '\n') line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  return IDOK;
}

}  // namespace plat
