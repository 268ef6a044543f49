#include "net/fd_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/socket_address.h"

#include <QObject>
#include <QSocketNotifier>

namespace {

int Fd(TSocket s) { return static_cast<int>(s); }

// The call's result with `error` set as the channel promises.
int Result(ssize_t n, int& error) {
  if (n >= 0) {
    error = 0;
    return static_cast<int>(n);
  }
  error = errno == EAGAIN || errno == EWOULDBLOCK ? ws::kEWouldBlock : ws::ErrorFromErrno(errno);
  return ws::kSocketError;
}

void Arm(std::unique_ptr<QSocketNotifier>& notifier, int fd, QSocketNotifier::Type type,
         std::function<void()>& notice) {
  if (!notifier) {
    notifier = std::make_unique<QSocketNotifier>(fd, type);
    QSocketNotifier* n = notifier.get();
    QObject::connect(n, &QSocketNotifier::activated, [n, &notice] {
      n->setEnabled(false);
      if (notice) notice();
    });
  }
  notifier->setEnabled(true);
}

}  // namespace

struct TFdSocket::Watch {
  std::unique_ptr<QSocketNotifier> read, write;
};

TFdSocket::TFdSocket(TSocket fd) : fd_(fd), watch_(std::make_unique<Watch>()) {
  // Every write is a whole line or a group of them: waiting for the peer's
  // acknowledgement first would cost a round trip on a slow link.
  int one = 1;
  ::setsockopt(Fd(fd_), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

TFdSocket::~TFdSocket() {
  // Notifiers go before the descriptor they watch.
  watch_.reset();
  ::close(Fd(fd_));
}

int TFdSocket::Connect(const TIpAddress& to, std::uint16_t port) {
  sockaddr_storage sa;
  const socklen_t len = static_cast<socklen_t>(FillSocketAddress(to, port, sa));
  if (::connect(Fd(fd_), reinterpret_cast<const sockaddr*>(&sa), len) == 0) return 0;
  return errno == EINPROGRESS ? ws::kEWouldBlock : ws::ErrorFromErrno(errno);
}

int TFdSocket::ConnectResult() const {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(Fd(fd_), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  return err == 0 ? 0 : ws::ErrorFromErrno(err);
}

int TFdSocket::Recv(char* buf, int len, int& error) {
  ssize_t n;
  do {
    n = ::recv(Fd(fd_), buf, static_cast<std::size_t>(len), 0);
  } while (n < 0 && errno == EINTR);
  if (n > 0) bytes_.Received += static_cast<std::uint64_t>(n);
  return Result(n, error);
}

int TFdSocket::Send(const char* buf, int len, int& error) {
  ssize_t n;
  do {
    n = ::send(Fd(fd_), buf, static_cast<std::size_t>(len), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n > 0) bytes_.Sent += static_cast<std::uint64_t>(n);
  return Result(n, error);
}

std::optional<TIpAddress> TFdSocket::LocalAddress() const {
  sockaddr_storage sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(Fd(fd_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return std::nullopt;
  return IpAddressOf(sa);
}

void TFdSocket::WatchRead() { Arm(watch_->read, Fd(fd_), QSocketNotifier::Read, OnReadable); }

void TFdSocket::WatchWrite() { Arm(watch_->write, Fd(fd_), QSocketNotifier::Write, OnWritable); }

void TFdSocket::Unwatch() {
  if (watch_->read) watch_->read->setEnabled(false);
  if (watch_->write) watch_->write->setEnabled(false);
}
