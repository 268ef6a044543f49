// Receives the socket layer's notifications as a window procedure would:
// on Linux through Qt's event queue, on Windows as the messages of a
// message-only window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class TNotifyWindow {
 public:
  using TWndProc = std::function<void(unsigned msg, std::uintptr_t wparam, std::uint32_t lparam)>;
  explicit TNotifyWindow(TWndProc proc);
  ~TNotifyWindow();
  TNotifyWindow(const TNotifyWindow&) = delete;
  TNotifyWindow& operator=(const TNotifyWindow&) = delete;

  void Deliver(unsigned msg, std::uintptr_t wparam, std::uint32_t lparam);

  // From any thread: queues `call` to run on the window's thread. False when
  // the window is gone already; a window that goes before the call runs
  // drops it.
  static bool Post(const TNotifyWindow* window, std::function<void()> call);

  struct Impl;  // the system's side of the window

 private:
  TWndProc proc_;
  std::unique_ptr<Impl> d_;
};
