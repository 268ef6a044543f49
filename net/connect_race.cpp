#include "net/connect_race.h"

#include <algorithm>

#include "platform/errors.h"

namespace {
constexpr unsigned kConnectEvent = 0x0400 + 151;
}

TConnectRace::TConnectRace(std::vector<TIpAddress> addresses, std::uint16_t port, TSocket first)
    : addresses_(std::move(addresses)),
      port_(port),
      first_(first),
      window_(std::make_unique<TNotifyWindow>(
          [this](unsigned, std::uintptr_t s, std::uint32_t lparam) { OnEvent(s, lparam); })) {
  delay_.setSingleShot(true);
  delay_.setInterval(AttemptDelayMs);
  QObject::connect(&delay_, &QTimer::timeout, [this] { due_ = Untried(); });
}

TConnectRace::~TConnectRace() {
  window_.reset();
  TagWinsock& w = Winsock();
  const TSocket winner = Winner();
  for (const Attempt& a : attempts_) {
    if (a.socket == first_ || a.socket == winner || a.socket == ws::kInvalidSocket) continue;
    try {
      if (w.Loaded()) w.closesocket(a.socket);
    } catch (const EError&) {
    }
  }
}

void TConnectRace::Advance() {
  due_ = false;
  while (Untried() && !StartNext()) {
  }
  if (winner_ != kNone)
    delay_.stop();
  else if (Untried())
    delay_.start();
}

bool TConnectRace::StartNext() {
  TagWinsock& w = Winsock();
  const std::size_t index = attempts_.size();
  const TIpAddress& to = addresses_[index];
  attempts_.push_back({index == 0 ? first_ : w.socket(to.Family(), ws::kSockStream, 0)});
  Attempt& attempt = attempts_.back();
  if (attempt.socket == ws::kInvalidSocket ||
      w.WSAAsyncSelect(attempt.socket, window_.get(), kConnectEvent, ws::kFdConnect) ==
          ws::kSocketError)
    return Fail(attempt, w.WSAGetLastError());
  int rc = 0;
  if (to.v6) {
    TSockAddrIn6 sa;
    sa.sin6_family = ws::kAfInet6;
    sa.sin6_port = w.htons(port_);
    sa.sin6_addr = to.v6_addr;
    sa.sin6_scope_id = to.scope_id;
    rc = w.connect(attempt.socket, &sa, sizeof sa);
  } else {
    TSockAddrIn sa;
    sa.sin_family = ws::kAfInet;
    sa.sin_port = w.htons(port_);
    sa.sin_addr = to.v4;
    rc = w.connect(attempt.socket, &sa, sizeof sa);
  }
  if (rc == 0) {
    winner_ = index;
    return true;
  }
  const int error = w.WSAGetLastError();
  return error == ws::kEWouldBlock || Fail(attempt, error);
}

bool TConnectRace::Fail(Attempt& attempt, int error) {
  attempt.failed = true;
  error_ = error;
  return false;
}

void TConnectRace::OnEvent(std::uintptr_t socket, std::uint32_t lparam) {
  if (winner_ != kNone || TagWinsock::WSAGetSelectEvent(lparam) != ws::kFdConnect) return;
  auto it = std::find_if(attempts_.begin(), attempts_.end(),
                         [socket](const Attempt& a) { return a.socket == socket && !a.failed; });
  if (it == attempts_.end()) return;
  const int error = TagWinsock::WSAGetAsyncError(lparam);
  if (error == 0) {
    winner_ = static_cast<std::size_t>(it - attempts_.begin());
    delay_.stop();
    return;
  }
  Fail(*it, error);
  // A refusal moves on to the next address at once, not after the delay.
  if (Untried()) {
    delay_.stop();
    due_ = true;
  }
}

bool TConnectRace::Done() const {
  return winner_ != kNone || (!Untried() && std::all_of(attempts_.begin(), attempts_.end(),
                                                        [](const Attempt& a) { return a.failed; }));
}

TSocket TConnectRace::Winner() const {
  return winner_ == kNone ? ws::kInvalidSocket : attempts_[winner_].socket;
}

const TIpAddress& TConnectRace::WinnerAddress() const { return addresses_.at(winner_); }
