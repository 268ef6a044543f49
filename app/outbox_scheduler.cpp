#include "app/outbox_scheduler.h"

#include <algorithm>

#include "net/online_watch.h"

TOutboxScheduler::TOutboxScheduler(TRequestDispatcher& dispatcher, TOutbox& outbox, TGuard guard)
    : dispatcher_(dispatcher),
      outbox_(outbox),
      guard_(std::move(guard)),
      online_(std::make_unique<TOnlineWatch>()) {
  retry_.setSingleShot(true);
  connect(&retry_, &QTimer::timeout, this, [this] { guard_([this] { Round(); }); });
  connect(online_.get(), &TOnlineWatch::Online, this, [this] {
    // A new connection: the back-off starts over.
    schedule_.Reset();
    retry_.stop();
    guard_([this] {
      dispatcher_.FlushOutbox();
      Arm();
    });
  });
}

TOutboxScheduler::~TOutboxScheduler() = default;

void TOutboxScheduler::Arm() {
  const auto& entries = outbox_.Entries();
  if (std::none_of(entries.begin(), entries.end(), TOutbox::Waiting)) {
    retry_.stop();
    schedule_.Reset();
    return;
  }
  if (!retry_.isActive()) retry_.start(schedule_.NextDelayMinutes() * 60 * 1000);
}

QDateTime TOutboxScheduler::NextRound() const {
  if (!retry_.isActive()) return {};
  return QDateTime::currentDateTime().addMSecs(retry_.remainingTime());
}

void TOutboxScheduler::Round() {
  schedule_.Failed();
  dispatcher_.FlushOutbox();
  Arm();
}
