// Connecting as RFC 8305 ("Happy Eyeballs") has it: the addresses in turn,
// the next one started when the one before has failed or has not connected
// within kAttemptDelayMs, the earlier attempts left running; the first to
// connect wins and the others are closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/event_loop.h"
#include "net/fd_socket.h"
#include "net/ip_address.h"

class TConnectRace {
 public:
  static constexpr int kAttemptDelayMs = 250;
  // The delay in force (a test stretches it to tell "at once" from "after
  // the delay" on a loaded machine).
  static inline int AttemptDelayMs = kAttemptDelayMs;

  // `first` is an open socket of the first address's family; the race
  // dials the first address on it but leaves it to its owner.
  TConnectRace(std::vector<TIpAddress> addresses, std::uint16_t port, TFdSocket& first);
  // Closes the sockets the race made, except a winner taken.
  ~TConnectRace();
  TConnectRace(const TConnectRace&) = delete;
  TConnectRace& operator=(const TConnectRace&) = delete;

  // Starts what is due: the first attempt, or the next after a failure or
  // the delay. Runs on the caller's stack, so that what the binding raises
  // reaches the caller rather than the event loop.
  void Advance();
  bool Due() const { return due_; }
  // A winner, or every address tried and failed.
  bool Done() const;
  bool Won() const { return winner_ != kNone; }
  // The winner when the race made it; null when `first` won (or none did).
  std::unique_ptr<TFdSocket> TakeWinner();
  const TIpAddress& WinnerAddress() const;
  // The Winsock error of the attempt that failed last: it got furthest (an
  // immediate "no route" on a network without IPv6 says less than the
  // IPv4 server's refusal after it).
  int Error() const { return error_; }

 private:
  // Attempt i dials addresses_[i]; the first runs on `first`.
  struct Attempt {
    std::unique_ptr<TFdSocket> own;
    TFdSocket* socket = nullptr;
    bool failed = false;
  };
  static constexpr std::size_t kNone = SIZE_MAX;
  // Dials the next address; false when it failed at once.
  bool StartNext();
  // Marks the attempt failed; returns false.
  bool Fail(Attempt& attempt, int error);
  // The descriptor of attempt `index` turned writable: its connect is over.
  void ConnectOver(std::size_t index);
  bool Untried() const { return attempts_.size() < addresses_.size(); }

  std::vector<TIpAddress> addresses_;
  std::uint16_t port_;  // host order
  TFdSocket& first_;
  std::vector<Attempt> attempts_;
  std::size_t winner_ = kNone;
  int error_ = 0;
  bool due_ = true;
  TLoopTimer delay_;
};
