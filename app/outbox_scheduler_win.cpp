#include "app/outbox_scheduler.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <atomic>

#include "net/notify_window.h"

namespace {

// An interface that comes or changes (a cable plugged in, a wireless network
// joined) may bring the machine on line; a round then costs little when it
// did not. The system calls from a thread of its own: the round runs on the
// loop's.
class TIpChangeWatch : public TNetworkUpWatch {
 public:
  explicit TIpChangeWatch(std::function<void()> up)
      : up_(std::move(up)), window_([](unsigned, std::uintptr_t, std::uint32_t) {}) {
    if (NotifyIpInterfaceChange(AF_UNSPEC, &Changed, this, FALSE, &handle_) != NO_ERROR) {
      handle_ = nullptr;
    }
  }
  ~TIpChangeWatch() override {
    // Returns once no callback runs any more.
    if (handle_) CancelMibChangeNotify2(handle_);
  }

 private:
  static void WINAPI Changed(void* context, MIB_IPINTERFACE_ROW*, MIB_NOTIFICATION_TYPE type) {
    if (type != MibAddInstance && type != MibParameterNotification) return;
    auto* self = static_cast<TIpChangeWatch*>(context);
    // A burst of changes makes one round.
    if (self->pending_.exchange(true)) return;
    TNotifyWindow::Post(&self->window_, [self] {
      self->pending_ = false;
      self->up_();
    });
  }

  std::function<void()> up_;
  TNotifyWindow window_;
  HANDLE handle_ = nullptr;
  std::atomic<bool> pending_{false};
};

}  // namespace

std::unique_ptr<TNetworkUpWatch> WatchNetworkUp(std::function<void()> up) {
  return std::make_unique<TIpChangeWatch>(std::move(up));
}
