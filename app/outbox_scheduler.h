// The rounds that send the outbox again by themselves: a back-off timer
// while a request waits that may go, started over when the network comes up.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "core/dispatcher.h"
#include "core/outbox.h"
#include "net/event_loop.h"

// Runs a callback on the program's loop when the machine comes on line
// again; the watch ends when this goes. Linux: NetworkManager; Windows: the
// IP interface notifications.
class TNetworkUpWatch {
 public:
  virtual ~TNetworkUpWatch() = default;
};
std::unique_ptr<TNetworkUpWatch> WatchNetworkUp(std::function<void()> up);

class TOutboxScheduler {
 public:
  // Each round runs through `guard` (the caller's error handler).
  using TGuard = std::function<void(const std::function<void()>&)>;
  TOutboxScheduler(TRequestDispatcher& dispatcher, TOutbox& outbox, TGuard guard);
  ~TOutboxScheduler();
  TOutboxScheduler(const TOutboxScheduler&) = delete;
  TOutboxScheduler& operator=(const TOutboxScheduler&) = delete;

  // Runs the timer while some request waits that may go by itself, and
  // stops it (the back-off starting over) when none does.
  void Arm();
  bool Armed() const { return armed_; }
  // When the next round runs, as local "hh:mm"; empty when none is due.
  std::string NextRound() const;
  // The network came up: the back-off starts over and the outbox goes now.
  void NetworkUp();

 private:
  void Round();
  void Disarm();

  TRequestDispatcher& dispatcher_;
  TOutbox& outbox_;
  TGuard guard_;
  TRetrySchedule schedule_;
  TLoopTimer retry_;
  bool armed_ = false;
  std::chrono::system_clock::time_point due_;
  std::unique_ptr<TNetworkUpWatch> online_;
};
