// The rounds that send the outbox again by themselves: a back-off timer
// while a request waits that may go, started over when the network comes up.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

#include "core/dispatcher.h"
#include "core/outbox.h"

class TOnlineWatch;

// A QObject for its connections' lifetime; it has no signals of its own.
class TOutboxScheduler : public QObject {
 public:
  // Each round runs through `guard` (the caller's error handler).
  using TGuard = std::function<void(const std::function<void()>&)>;
  TOutboxScheduler(TRequestDispatcher& dispatcher, TOutbox& outbox, TGuard guard);
  ~TOutboxScheduler() override;

  // Runs the timer while some request waits that may go by itself, and
  // stops it (the back-off starting over) when none does.
  void Arm();
  // When the next round runs; invalid when none is due.
  QDateTime NextRound() const;

 private:
  void Round();

  TRequestDispatcher& dispatcher_;
  TOutbox& outbox_;
  TGuard guard_;
  TRetrySchedule schedule_;
  QTimer retry_;
  std::unique_ptr<TOnlineWatch> online_;
};
