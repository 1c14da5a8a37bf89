// A small window/message model. On Windows a window handle is an HWND. On
// POSIX it is a Window record with a message procedure: SendMessage calls it
// at once, PostMessage queues to the calling thread's queue, and
// PeekMessage/TranslateMessage/DispatchMessage drain that queue.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include "platform/win_types.h"

namespace plat {

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

struct Window;
using WindowHandle = Window*;
using WindowProc = std::function<LRESULT(WindowHandle, uint32_t message, WPARAM, LPARAM)>;

struct Message {
  WindowHandle window = nullptr;
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

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

inline constexpr uint32_t PBM_SETPOS = 1026;
inline constexpr uint32_t RDW_VALIDATE = 0x0008;
inline constexpr uint32_t RDW_UPDATENOW = 0x0100;

LRESULT SendMessage(WindowHandle window, uint32_t message, WPARAM w, LPARAM l);
bool PostMessage(WindowHandle window, uint32_t message, WPARAM w, LPARAM l);
// PM_REMOVE semantics: takes the oldest message of the thread's queue.
bool PeekMessage(Message* out);
void TranslateMessage(const Message& msg);
LRESULT DispatchMessage(const Message& msg);
bool RedrawWindow(WindowHandle window, uint32_t flags);

// Windows MulDiv: a*b in 64 bits divided by c, rounded to nearest; -1 when c
// is 0 or the result does not fit in 32 signed bits.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// MessageBox: on POSIX the caption and text go to standard error and the
// call returns IDOK at once. A null caption means the system default
// ("Error").
inline constexpr uint32_t MB_ICONERROR = 0x10;
inline constexpr int IDOK = 1;
int MessageBox(const char16_t* text, const char16_t* caption, uint32_t style);

}  // namespace plat
