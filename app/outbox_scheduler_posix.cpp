#include <QObject>

#include "app/outbox_scheduler.h"
#include "net/online_watch.h"

namespace {

class TNmUpWatch : public TNetworkUpWatch {
 public:
  explicit TNmUpWatch(std::function<void()> up) {
    QObject::connect(&watch_, &TOnlineWatch::Online, &watch_, std::move(up));
  }

 private:
  TOnlineWatch watch_;
};

}  // namespace

std::unique_ptr<TNetworkUpWatch> WatchNetworkUp(std::function<void()> up) {
  return std::make_unique<TNmUpWatch>(std::move(up));
}
