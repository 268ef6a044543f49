#include "net/event_loop.h"

#include <windows.h>

#include "net/notify_window_win.h"

namespace {

constexpr UINT_PTR kTimerId = 1;

// A quit asked for while the socket layer waits is held back until the wait
// returns, then posted again for the loop that owns it: as with Qt, a nested
// wait does not end the program's loop, and WM_QUIT, which comes before
// timers and which every PeekMessage takes whatever its filter, would keep
// the socket's time-out from ever running.
thread_local bool t_quit = false;
thread_local int t_exit_code = 0;

// Dispatches what is queued; true when there was something.
bool RunQueued() {
  bool ran = false;
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      t_quit = true;
      t_exit_code = static_cast<int>(m.wParam);
      continue;
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
    ran = true;
  }
  return ran;
}

void PostHeldQuit() {
  if (!t_quit) return;
  t_quit = false;
  PostQuitMessage(t_exit_code);
}

}  // namespace

struct TLoopTimer::Impl {
  explicit Impl(std::function<void()> tick)
      : window([tick = std::move(tick)](unsigned msg, std::uintptr_t id, std::uint32_t) {
          if (msg == WM_TIMER && id == kTimerId) tick();
        }) {}
  TNotifyWindow window;
};

TLoopTimer::TLoopTimer(std::function<void()> tick) : d_(std::make_unique<Impl>(std::move(tick))) {}

TLoopTimer::~TLoopTimer() { Stop(); }

// A second Start restarts the period, as QTimer's does.
void TLoopTimer::Start(int interval_ms) {
  SetTimer(NotifyWindowHandle(d_->window), kTimerId, static_cast<UINT>(interval_ms), nullptr);
}

void TLoopTimer::Stop() { KillTimer(NotifyWindowHandle(d_->window), kTimerId); }

void PumpEvents() {
  RunQueued();
  PostHeldQuit();
}

// Every thread has a message queue: there is always a loop to wait on.
void WaitForEvents() {
  if (!RunQueued()) {
    // Input that came after the queue was last looked at.
    MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, 0);
    RunQueued();
  }
  PostHeldQuit();
}
