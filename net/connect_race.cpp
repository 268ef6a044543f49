#include "net/connect_race.h"

#include <algorithm>

TConnectRace::TConnectRace(std::vector<TIpAddress> addresses, std::uint16_t port, TFdSocket& first)
    : addresses_(std::move(addresses)),
      port_(port),
      first_(first),
      delay_([this] {
        delay_.Stop();  // once per start
        due_ = Untried();
      }) {}

TConnectRace::~TConnectRace() {
  // The first socket outlives the race: it must not call back into it.
  first_.Unwatch();
  first_.OnWritable = nullptr;
}

void TConnectRace::Advance() {
  due_ = false;
  while (Untried() && !StartNext()) {
  }
  if (winner_ != kNone)
    delay_.Stop();
  else if (Untried())
    delay_.Start(AttemptDelayMs);
}

bool TConnectRace::StartNext() {
  const std::size_t index = attempts_.size();
  const TIpAddress& to = addresses_[index];
  Attempt& attempt = attempts_.emplace_back();
  if (index == 0) {
    attempt.socket = &first_;
  } else {
    TagWinsock& w = Winsock();
    const TSocket s = w.socket(to.Family(), ws::kSockStream, 0);
    if (s == ws::kInvalidSocket) return Fail(attempt, w.WSAGetLastError());
    attempt.own = std::make_unique<TFdSocket>(s);
    attempt.socket = attempt.own.get();
  }
  const int rc = attempt.socket->Connect(to, port_);
  if (rc == 0) {
    winner_ = index;
    return true;
  }
  if (rc != ws::kEWouldBlock) return Fail(attempt, rc);
  attempt.socket->OnWritable = [this, index] { ConnectOver(index); };
  attempt.socket->WatchWrite();
  return true;
}

bool TConnectRace::Fail(Attempt& attempt, int error) {
  attempt.failed = true;
  error_ = error;
  return false;
}

void TConnectRace::ConnectOver(std::size_t index) {
  Attempt& attempt = attempts_[index];
  if (winner_ != kNone || attempt.failed) return;
  const int error = attempt.socket->ConnectResult();
  if (error == 0) {
    winner_ = index;
    delay_.Stop();
    return;
  }
  Fail(attempt, error);
  // A refusal moves on to the next address at once, not after the delay.
  if (Untried()) {
    delay_.Stop();
    due_ = true;
  }
}

bool TConnectRace::Done() const {
  return winner_ != kNone || (!Untried() && std::all_of(attempts_.begin(), attempts_.end(),
                                                        [](const Attempt& a) { return a.failed; }));
}

std::unique_ptr<TFdSocket> TConnectRace::TakeWinner() {
  if (winner_ == kNone) return nullptr;
  std::unique_ptr<TFdSocket> won = std::move(attempts_[winner_].own);
  if (won) {
    won->Unwatch();
    won->OnWritable = nullptr;
  }
  return won;
}

const TIpAddress& TConnectRace::WinnerAddress() const { return addresses_.at(winner_); }
