#include "net/notify_window_win.h"

#include <windows.h>

#include <map>
#include <mutex>

#include "platform/errors.h"

namespace {

// A call posted from another thread: its heap copy travels in lParam.
constexpr UINT kCallMessage = WM_APP + 1;
constexpr wchar_t kClassName[] = L"TolvaneNotifyWindow";

// Worker threads post only to windows that still exist; the registry's lock
// keeps a window from going away while a post is under way.
std::mutex g_windows_mutex;
std::map<const TNotifyWindow*, HWND> g_windows;

using TCall = std::function<void()>;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kCallMessage) {
    std::unique_ptr<TCall> call(reinterpret_cast<TCall*>(lparam));
    if (*call) (*call)();
    return 0;
  }
  auto* window = reinterpret_cast<TNotifyWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  // The socket layer's own messages and its timers; the rest is the system's.
  if (window && (msg == WM_TIMER || (msg >= WM_USER && msg < WM_APP))) {
    window->Deliver(msg, wparam, static_cast<std::uint32_t>(lparam));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

void RegisterClassOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);
  });
}

// Frees the calls still queued for a window that is going: they never run.
// PeekMessage hands out WM_QUIT whatever its filter: that one goes back.
void DropQueuedCalls(HWND hwnd) {
  MSG m;
  bool quit = false;
  int exit_code = 0;
  while (PeekMessageW(&m, hwnd, kCallMessage, kCallMessage, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      quit = true;
      exit_code = static_cast<int>(m.wParam);
    } else {
      delete reinterpret_cast<TCall*>(m.lParam);
    }
  }
  if (quit) PostQuitMessage(exit_code);
}

}  // namespace

struct TNotifyWindow::Impl {
  HWND hwnd = nullptr;
};

TNotifyWindow::TNotifyWindow(TWndProc proc) : proc_(std::move(proc)), d_(std::make_unique<Impl>()) {
  RegisterClassOnce();
  d_->hwnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  if (!d_->hwnd)
    throw ESocketError("Cannot create the socket layer's window (error " +
                       std::to_string(GetLastError()) + ")");
  SetWindowLongPtrW(d_->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  std::lock_guard lock(g_windows_mutex);
  g_windows[this] = d_->hwnd;
}

TNotifyWindow::~TNotifyWindow() {
  {
    std::lock_guard lock(g_windows_mutex);
    g_windows.erase(this);
  }
  // No post reaches the window from here on: what is queued is all there is.
  SetWindowLongPtrW(d_->hwnd, GWLP_USERDATA, 0);
  DropQueuedCalls(d_->hwnd);
  DestroyWindow(d_->hwnd);
}

void TNotifyWindow::Deliver(unsigned msg, std::uintptr_t wparam, std::uint32_t lparam) {
  if (proc_) proc_(msg, wparam, lparam);
}

bool TNotifyWindow::Post(const TNotifyWindow* window, std::function<void()> call) {
  std::lock_guard lock(g_windows_mutex);
  auto it = g_windows.find(window);
  if (it == g_windows.end()) return false;
  auto heap = std::make_unique<TCall>(std::move(call));
  if (!PostMessageW(it->second, kCallMessage, 0, reinterpret_cast<LPARAM>(heap.get())))
    return false;
  heap.release();  // the window procedure owns it now
  return true;
}

HWND__* NotifyWindowHandle(const TNotifyWindow& window) {
  std::lock_guard lock(g_windows_mutex);
  auto it = g_windows.find(&window);
  return it == g_windows.end() ? nullptr : it->second;
}
