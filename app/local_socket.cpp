#include "app/local_socket.h"

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Accepting pauses this long when the process is out of descriptors.
constexpr int kAcceptRetryMs = 1000;

bool AddressOf(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// Waits for `events` on `fd`; false when `timeoutMs` passed first.
bool WaitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeoutMs);
    if (n >= 0) return n > 0;
    if (errno != EINTR) return false;
  }
}

// Writes all of `bytes`, waiting for room at most `timeoutMs` each time.
bool WriteAllTo(int fd, std::string_view bytes, int timeoutMs) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      if (!WaitFor(fd, POLLOUT, timeoutMs)) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- peer

TLocalPeer::TLocalPeer(int fd, QObject* parent) : QObject(parent), fd_(fd) {
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { ReadReady(); });
}

TLocalPeer::~TLocalPeer() {
  notifier_.reset();
  if (fd_ >= 0) ::close(fd_);
}

void TLocalPeer::ReadReady() {
  char block[4096];
  // A client that never stops sending gets its turn again, after its reader
  // had a chance to look at what came (and to drop it).
  for (int blocks = 0; blocks < 16; ++blocks) {
    const ssize_t n = ::recv(fd_, block, sizeof block, 0);
    if (n > 0) {
      input_.append(block, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno != EAGAIN) {
      peer_closed_ = true;
      notifier_->setEnabled(false);
    }
    break;
  }
  if (OnReadable) OnReadable();
  if (peer_closed_) Close();
}

std::string TLocalPeer::TakeInput() {
  std::string taken;
  taken.swap(input_);
  return taken;
}

void TLocalPeer::Write(std::string_view bytes) {
  if (fd_ >= 0) WriteAllTo(fd_, bytes, 1000);
}

void TLocalPeer::Close() {
  if (fd_ < 0) return;
  notifier_.reset();
  ::close(fd_);
  fd_ = -1;
  deleteLater();
}

// -------------------------------------------------------------- server

TLocalServer::TLocalServer(const std::string& path, TOnConnection onConnection)
    : path_(path), on_connection_(std::move(onConnection)) {
  sockaddr_un address;
  if (!AddressOf(path_, address)) return;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  ::unlink(path_.c_str());
  // Made with this user's rights only, never readable by others meanwhile.
  const mode_t old = ::umask(0177);
  const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::umask(old);
  if (!bound || ::listen(fd, 16) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Accept(); });
}

TLocalServer::~TLocalServer() {
  notifier_.reset();
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
}

// Not checked for the dynamic type: the sanitizer probes memory through a
// pipe, which cannot be made while the process is out of descriptors, and it
// would report the notifier as no object.
__attribute__((no_sanitize("vptr"))) void TLocalServer::EnableAccept(bool on) {
  notifier_->setEnabled(on);
}

void TLocalServer::Accept() {
  for (;;) {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The connection stays queued, so the socket stays readable: without
        // a pause the notifier would fire again at once, for ever.
        EnableAccept(false);
        QTimer::singleShot(kAcceptRetryMs, this, [this] { EnableAccept(true); });
      }
      return;  // EAGAIN: all taken; anything else: the next one may do
    }
    auto* peer = new TLocalPeer(fd, this);
    if (on_connection_) on_connection_(peer);
  }
}

// -------------------------------------------------------------- client

TLocalClient::TLocalClient(const std::string& path, int timeoutMs) {
  sockaddr_un address;
  if (!AddressOf(path, address)) return;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  // A local connect waits only while the server's queue is full; the send
  // time-out bounds that wait.
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

bool TLocalClient::Connected() const { return fd_ >= 0; }

TLocalClient::~TLocalClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool TLocalClient::WriteAll(std::string_view bytes, int timeoutMs) {
  return fd_ >= 0 && WriteAllTo(fd_, bytes, timeoutMs);
}

std::string TLocalClient::ReadLine(int timeoutMs) {
  std::string line;
  char c;
  while (fd_ >= 0) {
    const ssize_t n = ::recv(fd_, &c, 1, 0);
    if (n == 1) {
      line += c;
      if (c == '\n') break;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      if (!WaitFor(fd_, POLLIN, timeoutMs)) break;
    } else {
      break;  // closed
    }
  }
  return line;
}
