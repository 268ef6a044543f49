#include "net/fd_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "net/socket_address.h"

#include "net/notify_window_win.h"

namespace {

// WSAAsyncSelect's notice to the socket's own window.
constexpr unsigned kSelectMessage = WM_USER + 150;
constexpr long kReadEvents = FD_READ | FD_CLOSE;
constexpr long kWriteEvents = FD_WRITE | FD_CONNECT;

SOCKET Sock(TSocket s) { return static_cast<SOCKET>(s); }

// Winsock's numbers are the layer's numbers already.
int Result(int n, int& error) {
  if (n != SOCKET_ERROR) {
    error = 0;
    return n;
  }
  error = WSAGetLastError();
  return ws::kSocketError;
}

// Whether the socket is ready now: readable (data or the peer's end), or
// writable (connected, or a connect that failed).
bool ReadyNow(SOCKET s, bool write) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval now{0, 0};
  const int n = write ? ::select(0, nullptr, &ready, &failed, &now)
                      : ::select(0, &ready, nullptr, nullptr, &now);
  return n > 0;
}

}  // namespace

// Winsock reports readiness once per change (FD_READ again only after a
// recv, FD_WRITE only after a send that would have blocked), while the
// socket wants a notice per Watch whenever the socket is ready, as Qt's
// notifier gives it. So the socket stays selected for every event from the
// start, a notice nobody watches for is dropped, and each Watch asks select
// whether the socket is ready already.
struct TFdSocket::Watch {
  explicit Watch(TFdSocket& owner)
      : window([&owner](unsigned msg, std::uintptr_t, std::uint32_t lparam) {
          if (msg == kSelectMessage) owner.watch_->Notice(owner, lparam);
        }) {}

  void Arm(TFdSocket& owner, bool for_write) {
    (for_write ? write : read) = true;
    if (ReadyNow(Sock(owner.fd_), for_write)) {
      const long event = for_write ? FD_WRITE : FD_READ;
      ::PostMessageW(NotifyWindowHandle(window), kSelectMessage, owner.fd_,
                     WSAMAKESELECTREPLY(event, 0));
    }
  }

  void Notice(TFdSocket& owner, std::uint32_t lparam) {
    const long event = WSAGETSELECTEVENT(lparam);
    if (event == FD_CONNECT && WSAGETSELECTERROR(lparam) != 0)
      connect_error = WSAGETSELECTERROR(lparam);
    // The notice sleeps before it runs; the other direction stays armed. A
    // peer's reset ends a wait to send too: the send then fails at once.
    const bool for_read = (event & kReadEvents) && read;
    const bool for_write = !for_read && (event & (kWriteEvents | FD_CLOSE)) && write;
    if (!for_read && !for_write) return;
    (for_read ? read : write) = false;
    std::function<void()>& notice = for_read ? owner.OnReadable : owner.OnWritable;
    if (notice) notice();
  }

  TNotifyWindow window;
  bool read = false, write = false;
  int connect_error = 0;  // as FD_CONNECT reported it
};

TFdSocket::TFdSocket(TSocket fd) : fd_(fd), watch_(std::make_unique<Watch>(*this)) {
  // Every write is a whole line or a group of them: waiting for the peer's
  // acknowledgement first would cost a round trip on a slow link.
  BOOL one = TRUE;
  ::setsockopt(Sock(fd_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof one);
  // Selecting makes the socket non-blocking too.
  ::WSAAsyncSelect(Sock(fd_), NotifyWindowHandle(watch_->window), kSelectMessage,
                   kReadEvents | kWriteEvents);
}

TFdSocket::~TFdSocket() {
  // The window goes before the socket whose notices it takes.
  ::WSAAsyncSelect(Sock(fd_), NotifyWindowHandle(watch_->window), 0, 0);
  watch_.reset();
  ::closesocket(Sock(fd_));
}

int TFdSocket::Connect(const TIpAddress& to, std::uint16_t port) {
  sockaddr_storage sa;
  const int len = FillSocketAddress(to, port, sa);
  watch_->connect_error = 0;
  if (::connect(Sock(fd_), reinterpret_cast<const sockaddr*>(&sa), len) == 0) return 0;
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS ? ws::kEWouldBlock : error;
}

int TFdSocket::ConnectResult() const {
  if (watch_->connect_error != 0) return watch_->connect_error;
  int err = 0;
  int len = sizeof err;
  if (::getsockopt(Sock(fd_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
    err = WSAGetLastError();
  return err;
}

int TFdSocket::Recv(char* buf, int len, int& error) {
  const int n = ::recv(Sock(fd_), buf, len, 0);
  if (n > 0) bytes_.Received += static_cast<std::uint64_t>(n);
  return Result(n, error);
}

int TFdSocket::Send(const char* buf, int len, int& error) {
  const int n = ::send(Sock(fd_), buf, len, 0);
  if (n > 0) bytes_.Sent += static_cast<std::uint64_t>(n);
  return Result(n, error);
}

std::optional<TIpAddress> TFdSocket::LocalAddress() const {
  sockaddr_storage sa{};
  int len = sizeof sa;
  if (::getsockname(Sock(fd_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return std::nullopt;
  return IpAddressOf(sa);
}

void TFdSocket::WatchRead() { watch_->Arm(*this, false); }

void TFdSocket::WatchWrite() { watch_->Arm(*this, true); }

void TFdSocket::Unwatch() { watch_->read = watch_->write = false; }
