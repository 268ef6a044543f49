#include "net/notify_window.h"

#include <mutex>
#include <set>

#include <QMetaObject>
#include <QObject>

namespace {
// Worker threads post only to windows that still exist; the registry's lock
// keeps a window from going away while a post is under way.
std::mutex g_windows_mutex;
std::set<const TNotifyWindow*> g_windows;
}  // namespace

struct TNotifyWindow::Impl {
  QObject receiver;  // queued calls die with it
};

TNotifyWindow::TNotifyWindow(TWndProc proc) : proc_(std::move(proc)), d_(std::make_unique<Impl>()) {
  std::lock_guard lock(g_windows_mutex);
  g_windows.insert(this);
}

TNotifyWindow::~TNotifyWindow() {
  std::lock_guard lock(g_windows_mutex);
  g_windows.erase(this);
}

void TNotifyWindow::Deliver(unsigned msg, std::uintptr_t wparam, std::uint32_t lparam) {
  if (proc_) proc_(msg, wparam, lparam);
}

bool TNotifyWindow::Post(const TNotifyWindow* window, std::function<void()> call) {
  std::lock_guard lock(g_windows_mutex);
  if (!g_windows.count(window)) return false;
  QMetaObject::invokeMethod(&window->d_->receiver, std::move(call), Qt::QueuedConnection);
  return true;
}
