// Windows and their messages. On Windows a window handle is an HWND and these
// are the real calls. POSIX has a small model of them: a window is a record
// with a message procedure, SendMessage calls it at once, PostMessage queues
// to the calling thread's queue, and PeekMessage/TranslateMessage/
// DispatchMessage drain that queue.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include "platform/win_types.h"

namespace plat {

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

struct Window;  // an HWND on Windows, a record of the POSIX model
using WindowHandle = Window*;
using WindowProc = std::function<LRESULT(WindowHandle, uint32_t message, WPARAM, LPARAM)>;

struct Message {
  WindowHandle window = nullptr;
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// A window of this program whose messages go to proc: a record of the POSIX
// model, a message-only window on Windows. Progress displays and tests hand
// its Handle() to the library.
class MessageWindow {
 public:
  MessageWindow();
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  WindowHandle Handle() const;
  // RedrawWindow calls that reached the window, for progress displays.
  uint32_t RedrawCount() const;

  WindowProc proc;  // null: messages are accepted and answered with 0

  struct State;  // the system's part of the window

 private:
  std::unique_ptr<State> m_state;
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
// Whether a message box would be seen: false on Windows where the process's
// window station is not visible (a service, session 0, SYSTEM under a
// deployment tool); there MessageBox writes to standard error instead, and
// callers that keep a log put the message there too. True on POSIX, whose
// message box is standard error.
bool IsWindowStationVisible();

}  // namespace plat
