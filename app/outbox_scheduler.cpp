#include "app/outbox_scheduler.h"

#include <algorithm>
#include <cstdio>

#include "platform/local_time.h"

TOutboxScheduler::TOutboxScheduler(TRequestDispatcher& dispatcher, TOutbox& outbox, TGuard guard)
    : dispatcher_(dispatcher),
      outbox_(outbox),
      guard_(std::move(guard)),
      retry_([this] {
        Disarm();  // one shot: the next delay is the schedule's
        guard_([this] { Round(); });
      }),
      online_(WatchNetworkUp([this] { NetworkUp(); })) {}

TOutboxScheduler::~TOutboxScheduler() = default;

void TOutboxScheduler::Arm() {
  const auto& entries = outbox_.Entries();
  if (std::none_of(entries.begin(), entries.end(), TOutbox::Waiting)) {
    Disarm();
    schedule_.Reset();
    return;
  }
  if (armed_) return;
  const int minutes = schedule_.NextDelayMinutes();
  due_ = std::chrono::system_clock::now() + std::chrono::minutes(minutes);
  armed_ = true;
  retry_.Start(minutes * 60 * 1000);
}

void TOutboxScheduler::Disarm() {
  armed_ = false;
  retry_.Stop();
}

std::string TOutboxScheduler::NextRound() const {
  if (!armed_) return {};
  const std::tm tm = LocalTime(std::chrono::system_clock::to_time_t(due_)).tm;
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", tm.tm_hour % 100, tm.tm_min % 100);
  return text;
}

void TOutboxScheduler::NetworkUp() {
  // A new connection: the back-off starts over.
  schedule_.Reset();
  Disarm();
  guard_([this] {
    dispatcher_.FlushOutbox();
    Arm();
  });
}

void TOutboxScheduler::Round() {
  schedule_.Failed();
  dispatcher_.FlushOutbox();
  Arm();
}
