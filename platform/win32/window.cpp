// Win32 system calls: windows and messages are the system's own; a
// MessageWindow is a message-only window whose procedure calls ours.
#include "platform/win32/windows_api.h"

#include <cstdlib>
#include <string>

#include "platform/code_page.h"
#include "platform/window.h"

namespace plat {
namespace {

constexpr wchar_t kClassName[] = L"upk.MessageWindow";

HWND AsHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
WindowHandle AsHandle(HWND hwnd) { return reinterpret_cast<WindowHandle>(hwnd); }

}  // namespace

struct MessageWindow::State {
  MessageWindow* owner = nullptr;
  HWND hwnd = nullptr;
  uint32_t redrawCount = 0;
};

namespace {

MessageWindow::State* StateOf(HWND hwnd) {
  wchar_t name[64] = {};
  if (!hwnd || !::GetClassNameW(hwnd, name, 64) || std::wstring_view(name) != kClassName) {
    return nullptr;
  }
  return reinterpret_cast<MessageWindow::State*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

::LRESULT CALLBACK MessageWindowProc(HWND hwnd, UINT message, ::WPARAM w, ::LPARAM l) {
  MessageWindow::State* state = StateOf(hwnd);
  if (state && state->owner && state->owner->proc) {
    return state->owner->proc(AsHandle(hwnd), message, w, l);
  }
  return message >= WM_USER ? 0 : ::DefWindowProcW(hwnd, message, w, l);
}

ATOM RegisterMessageWindowClass() {
  static const ATOM atom = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = MessageWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    return ::RegisterClassExW(&wc);
  }();
  return atom;
}

}  // namespace

MessageWindow::MessageWindow() : m_state(std::make_unique<State>()) {
  m_state->owner = this;
  if (RegisterMessageWindowClass() || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
    m_state->hwnd = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      ::GetModuleHandleW(nullptr), nullptr);
    if (m_state->hwnd) {
      ::SetWindowLongPtrW(m_state->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(m_state.get()));
    }
  }
}

MessageWindow::~MessageWindow() {
  if (m_state->hwnd) ::DestroyWindow(m_state->hwnd);
}

WindowHandle MessageWindow::Handle() const { return AsHandle(m_state->hwnd); }
uint32_t MessageWindow::RedrawCount() const { return m_state->redrawCount; }

LRESULT SendMessage(WindowHandle window, uint32_t message, WPARAM w, LPARAM l) {
  if (!window) return 0;
  return ::SendMessageW(AsHwnd(window), message, w, l);
}

bool PostMessage(WindowHandle window, uint32_t message, WPARAM w, LPARAM l) {
  if (!window) return false;
  return ::PostMessageW(AsHwnd(window), message, w, l) != FALSE;
}

bool PeekMessage(Message* out) {
  MSG msg{};
  if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (out) *out = Message{AsHandle(msg.hwnd), msg.message, msg.wParam, msg.lParam};
  return true;
}

void TranslateMessage(const Message& msg) {
  MSG m{};
  m.hwnd = AsHwnd(msg.window);
  m.message = msg.message;
  m.wParam = msg.wParam;
  m.lParam = msg.lParam;
  ::TranslateMessage(&m);
}

LRESULT DispatchMessage(const Message& msg) {
  MSG m{};
  m.hwnd = AsHwnd(msg.window);
  m.message = msg.message;
  m.wParam = msg.wParam;
  m.lParam = msg.lParam;
  return ::DispatchMessageW(&m);
}

bool RedrawWindow(WindowHandle window, uint32_t flags) {
  if (!window) return false;
  if (MessageWindow::State* state = StateOf(AsHwnd(window))) ++state->redrawCount;
  return ::RedrawWindow(AsHwnd(window), nullptr, nullptr, flags) != FALSE;
}

namespace {

// Whether anyone can see a window of this process: a service, session 0 or
// SYSTEM started by a deployment tool runs on a window station that is not
// visible, where a message box would wait for ever.
bool StationVisible() {
  HWINSTA station = ::GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  if (!station || !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    return true;  // cannot tell: show it
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool ShowsNoDialogs() {
#if defined(UPK_TEST_HOOKS)
  if (const char* quiet = std::getenv("UPK_NO_DIALOGS"); quiet && *quiet) return true;
#endif
  return !IsWindowStationVisible();
}

}  // namespace

bool IsWindowStationVisible() {
  static const bool visible = StationVisible();
  return visible;
}

int MessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
  // Where no one can see a box, the message goes to standard error and the
  // call returns at once as if it had been closed, as on POSIX; the caller's
  // log has it too.
  if (ShowsNoDialogs()) {
    std::string line = Utf16ToUtf8(caption ? WStringView(caption) : WStringView(u"Error"));
    line += ": ";
    if (text) line += Utf16ToUtf8(text);
    if (line.back() != '\n') line += '\n';
    HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (err && err != INVALID_HANDLE_VALUE) {
      ::WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    return IDOK;
  }
  const std::wstring t = text ? win32::Wide(text) : std::wstring();
  return ::MessageBoxW(nullptr, t.c_str(),
                       caption ? win32::Wide(caption).c_str() : nullptr, style);
}

}  // namespace plat
