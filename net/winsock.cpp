// The POSIX layer: sockets behind Winsock's operations, their events on Qt
// socket notifiers, look-ups on worker threads.
#include <arpa/inet.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include "net/winsock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>

// ---------------------------------------------------------------------------
// Notify windows. Worker threads post only to windows that still exist; the
// registry's lock keeps a window from going away while a post is under way.

namespace {
std::mutex g_windows_mutex;
std::set<const TNotifyWindow*> g_windows;
}  // namespace

TNotifyWindow::TNotifyWindow(TWndProc proc) : proc_(std::move(proc)) {
  std::lock_guard lock(g_windows_mutex);
  g_windows.insert(this);
}

TNotifyWindow::~TNotifyWindow() {
  std::lock_guard lock(g_windows_mutex);
  g_windows.erase(this);
}

void TNotifyWindow::Post(unsigned msg, std::uintptr_t wparam, std::uint32_t lparam) {
  QMetaObject::invokeMethod(
      this, [this, msg, wparam, lparam] { Deliver(msg, wparam, lparam); }, Qt::QueuedConnection);
}

void TNotifyWindow::Deliver(unsigned msg, std::uintptr_t wparam, std::uint32_t lparam) {
  if (proc_) proc_(msg, wparam, lparam);
}

// ---------------------------------------------------------------------------

const char* const kWinsockFunctions[17] = {"closesocket",
                                           "connect",
                                           "htons",
                                           "inet_addr",
                                           "recv",
                                           "send",
                                           "socket",
                                           "gethostname",
                                           "WSAStartup",
                                           "WSACleanup",
                                           "WSAGetLastError",
                                           "WSAIsBlocking",
                                           "WSACancelBlockingCall",
                                           "WSAAsyncGetServByName",
                                           "WSAAsyncGetHostByName",
                                           "WSACancelAsyncRequest",
                                           "WSAAsyncSelect"};

bool TWinsockLayer::Exports(std::string_view name) const {
  return std::any_of(std::begin(kWinsockFunctions), std::end(kWinsockFunctions),
                     [&](const char* f) { return name == f; });
}

// ---------------------------------------------------------------------------
// The POSIX layer.

namespace {
thread_local int t_last_error = 0;

int Fail(int error) {
  t_last_error = error;
  return ws::kSocketError;
}
}  // namespace

int TWinsockLayer::getsockname(TSocket, TSockAddrIn*) { return Fail(10045); }
int TWinsockLayer::getsockname(TSocket, TSockAddrIn6*) { return Fail(10045); }
int TWinsockLayer::connect(TSocket, const TSockAddrIn6*, int) { return Fail(10045); }

struct TPosixWinsock::Impl {
  struct Sock {
    enum State { kIdle, kConnecting, kConnected, kFailed };
    int fd = -1;
    std::uint64_t serial = 0;
    QPointer<TNotifyWindow> wnd;
    unsigned msg = 0;
    long events = 0;
    State state = kIdle;
    bool close_posted = false;
    std::unique_ptr<QSocketNotifier> rd;
    std::unique_ptr<QSocketNotifier> wr;
  };

  // Shared between the GUI thread and the worker of one look-up.
  struct Lookup {
    std::mutex m;
    bool canceled = false;
    bool done = false;
    TNotifyWindow* wnd = nullptr;
    unsigned msg = 0;
    int error = 0;
    THostEnt host;
    TServEnt serv;
    THostEnt* host_buf = nullptr;  // GUI thread only
    TServEnt* serv_buf = nullptr;
  };

  std::shared_ptr<Impl> self_token;  // weak copies tell queued calls we live
  int startups = 0;
  std::map<TSocket, std::unique_ptr<Sock>> sockets;
  std::map<TAsyncHandle, std::shared_ptr<Lookup>> lookups;
  TAsyncHandle next_handle = 1;
  std::uint64_t next_serial = 1;

  Sock* Find(TSocket s) {
    auto it = sockets.find(s);
    return it == sockets.end() ? nullptr : it->second.get();
  }

  std::weak_ptr<Impl> Weak() { return self_token; }

  void PostEvent(TSocket s, Sock& rec, long event, int error) {
    if (!rec.wnd || !(rec.events & event)) return;
    TNotifyWindow* wnd = rec.wnd.data();
    std::weak_ptr<Impl> weak = Weak();
    std::uint64_t serial = rec.serial;
    unsigned msg = rec.msg;
    std::uint32_t lparam =
        ws::MakeSelectReply(static_cast<std::uint16_t>(event), static_cast<std::uint16_t>(error));
    // A notification for a socket closed in the meantime is dropped, so that
    // a new socket that reuses the number never sees it.
    QMetaObject::invokeMethod(
        wnd,
        [weak, s, serial, msg, lparam, wnd] {
          auto impl = weak.lock();
          if (!impl) return;
          Sock* r = impl->Find(s);
          if (!r || r->serial != serial) return;
          wnd->Deliver(msg, s, lparam);
        },
        Qt::QueuedConnection);
  }

  void ArmRead(TSocket s, Sock& rec) {
    if (rec.state != Sock::kConnected || rec.close_posted) return;
    if (!(rec.events & (ws::kFdRead | ws::kFdClose)) || !rec.wnd) return;
    if (!rec.rd) {
      rec.rd = std::make_unique<QSocketNotifier>(rec.fd, QSocketNotifier::Read);
      QObject::connect(rec.rd.get(), &QSocketNotifier::activated, [this, s] { OnReadable(s); });
    }
    rec.rd->setEnabled(true);
  }

  void ArmWrite(TSocket s, Sock& rec) {
    if (!rec.wnd || rec.events == 0) return;
    if (!rec.wr) {
      rec.wr = std::make_unique<QSocketNotifier>(rec.fd, QSocketNotifier::Write);
      QObject::connect(rec.wr.get(), &QSocketNotifier::activated, [this, s] { OnWritable(s); });
    }
    rec.wr->setEnabled(true);
  }

  void Connected(TSocket s, Sock& rec) {
    rec.state = Sock::kConnected;
    PostEvent(s, rec, ws::kFdConnect, 0);
    PostEvent(s, rec, ws::kFdWrite, 0);
    ArmRead(s, rec);
  }

  // Readable: data (FD_READ, then quiet until the next recv), the peer's
  // close (FD_CLOSE, once) or a failure (FD_CLOSE with its error).
  void OnReadable(TSocket s) {
    Sock* rec = Find(s);
    if (!rec) return;
    rec->rd->setEnabled(false);
    char c;
    ssize_t n = ::recv(rec->fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
      PostEvent(s, *rec, ws::kFdRead, 0);
    } else if (n == 0) {
      rec->close_posted = true;
      PostEvent(s, *rec, ws::kFdClose, 0);
    } else if (errno == EAGAIN || errno == EINTR) {
      rec->rd->setEnabled(true);
    } else {
      rec->close_posted = true;
      PostEvent(s, *rec, ws::kFdClose, ws::ErrorFromErrno(errno));
    }
  }

  void OnWritable(TSocket s) {
    Sock* rec = Find(s);
    if (!rec) return;
    rec->wr->setEnabled(false);
    if (rec->state == Sock::kConnecting) {
      int err = 0;
      socklen_t len = sizeof err;
      if (::getsockopt(rec->fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      if (err != 0) {
        rec->state = Sock::kFailed;
        PostEvent(s, *rec, ws::kFdConnect, ws::ErrorFromErrno(err));
      } else {
        Connected(s, *rec);
      }
    } else if (rec->state == Sock::kConnected) {
      PostEvent(s, *rec, ws::kFdWrite, 0);
    }
  }

  int Connect(TSocket s, const sockaddr* sa, socklen_t len) {
    Sock* rec = Find(s);
    if (!rec) return Fail(ws::kENotSock);
    if (rec->state != Sock::kIdle) return Fail(ws::kEAlready);
    if (::connect(rec->fd, sa, len) == 0) {
      Connected(s, *rec);
      return 0;
    }
    if (errno == EINPROGRESS) {
      rec->state = Sock::kConnecting;
      ArmWrite(s, *rec);
      return Fail(ws::kEWouldBlock);
    }
    return Fail(ws::ErrorFromErrno(errno));
  }

  // The local end of socket `s` for getsockname into `name`.
  int LocalEnd(TSocket s, const void* name, sockaddr_storage& sa) {
    if (startups == 0) return Fail(ws::kNotInitialised);
    Sock* rec = Find(s);
    if (!rec) return Fail(ws::kENotSock);
    if (!name) return Fail(ws::kEFault);
    socklen_t len = sizeof sa;
    if (::getsockname(rec->fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
      return Fail(ws::ErrorFromErrno(errno));
    return 0;
  }

  TAsyncHandle StartLookup(TNotifyWindow* wnd, unsigned msg, std::function<int(Lookup&)> work,
                           THostEnt* host_buf, TServEnt* serv_buf) {
    auto req = std::make_shared<Lookup>();
    req->wnd = wnd;
    req->msg = msg;
    req->host_buf = host_buf;
    req->serv_buf = serv_buf;
    TAsyncHandle handle = next_handle++;
    lookups[handle] = req;
    std::weak_ptr<Impl> weak = Weak();
    try {
      std::thread([req, work = std::move(work), weak, handle] {
        Lookup scratch;
        int error = work(scratch);
        std::lock_guard lock(req->m);
        if (req->canceled) return;
        req->error = error;
        req->host = std::move(scratch.host);
        req->serv = std::move(scratch.serv);
        req->done = true;
        std::lock_guard wlock(g_windows_mutex);
        if (!g_windows.count(req->wnd)) return;
        TNotifyWindow* wnd = req->wnd;
        QMetaObject::invokeMethod(
            wnd,
            [req, weak, handle, wnd] {
              auto impl = weak.lock();
              if (!impl) return;
              auto it = impl->lookups.find(handle);
              if (it == impl->lookups.end() || it->second != req) return;
              impl->lookups.erase(it);
              int error;
              {
                std::lock_guard lk(req->m);
                if (req->canceled) return;
                error = req->error;
                if (req->host_buf) *req->host_buf = req->host;
                if (req->serv_buf) *req->serv_buf = req->serv;
              }
              wnd->Deliver(req->msg, handle,
                           ws::MakeSelectReply(0, static_cast<std::uint16_t>(error)));
            },
            Qt::QueuedConnection);
      }).detach();
    } catch (const std::system_error&) {
      lookups.erase(handle);
      t_last_error = ws::kENoBufs;
      return 0;
    }
    return handle;
  }

  void CancelAll() {
    for (auto& [h, req] : lookups) {
      std::lock_guard lock(req->m);
      req->canceled = true;
    }
    lookups.clear();
    for (auto& [s, rec] : sockets) ::close(rec->fd);
    sockets.clear();
  }
};

TPosixWinsock::TPosixWinsock() : d_(std::make_unique<Impl>()) {
  // The token shares ownership with nobody: it only dies with the layer.
  d_->self_token = std::shared_ptr<Impl>(d_.get(), [](Impl*) {});
}

TPosixWinsock::~TPosixWinsock() {
  d_->CancelAll();
  d_->self_token.reset();
}

std::size_t TPosixWinsock::OpenSockets() const { return d_->sockets.size(); }
std::size_t TPosixWinsock::PendingLookups() const { return d_->lookups.size(); }

int TPosixWinsock::closesocket(TSocket s) {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  auto it = d_->sockets.find(s);
  if (it == d_->sockets.end()) return Fail(ws::kENotSock);
  ::close(it->second->fd);
  d_->sockets.erase(it);
  return 0;
}

int TPosixWinsock::connect(TSocket s, const TSockAddrIn* name, int namelen) {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  if (!name || namelen < static_cast<int>(sizeof(TSockAddrIn))) return Fail(ws::kEFault);
  sockaddr_in sa{};
  sa.sin_family = name->sin_family;
  sa.sin_port = name->sin_port;
  sa.sin_addr.s_addr = name->sin_addr;
  return d_->Connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

int TPosixWinsock::connect(TSocket s, const TSockAddrIn6* name, int namelen) {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  if (!name || namelen < static_cast<int>(sizeof(TSockAddrIn6))) return Fail(ws::kEFault);
  if (name->sin6_family != ws::kAfInet6) return Fail(ws::kEAfNoSupport);
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  sa.sin6_port = name->sin6_port;
  sa.sin6_flowinfo = name->sin6_flowinfo;
  std::memcpy(&sa.sin6_addr, name->sin6_addr.data(), 16);
  sa.sin6_scope_id = name->sin6_scope_id;
  return d_->Connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

std::uint16_t TPosixWinsock::htons(std::uint16_t hostshort) { return ::htons(hostshort); }

std::uint32_t TPosixWinsock::inet_addr(const char* cp) {
  if (!cp) return ws::kInaddrNone;
  return ::inet_addr(cp);
}

int TPosixWinsock::recv(TSocket s, char* buf, int len, int flags) {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  Impl::Sock* rec = d_->Find(s);
  if (!rec) return Fail(ws::kENotSock);
  if (len < 0) return Fail(ws::kEInval);
  ssize_t n = ::recv(rec->fd, buf, static_cast<std::size_t>(len), flags & (MSG_PEEK | MSG_OOB));
  int err = errno;
  // Winsock re-enables FD_READ with every recv.
  d_->ArmRead(s, *rec);
  if (n < 0) return Fail(err == EAGAIN ? ws::kEWouldBlock : ws::ErrorFromErrno(err));
  return static_cast<int>(n);
}

int TPosixWinsock::send(TSocket s, const char* buf, int len, int flags) {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  Impl::Sock* rec = d_->Find(s);
  if (!rec) return Fail(ws::kENotSock);
  if (len < 0) return Fail(ws::kEInval);
  if (rec->state == Impl::Sock::kIdle || rec->state == Impl::Sock::kFailed) return Fail(10057);
  ssize_t n = ::send(rec->fd, buf, static_cast<std::size_t>(len), (flags & MSG_OOB) | MSG_NOSIGNAL);
  if (n < 0) {
    int err = errno;
    if (err == EAGAIN) {
      // FD_WRITE follows once there is room again.
      if (rec->state == Impl::Sock::kConnected) d_->ArmWrite(s, *rec);
      return Fail(ws::kEWouldBlock);
    }
    return Fail(ws::ErrorFromErrno(err));
  }
  return static_cast<int>(n);
}

TSocket TPosixWinsock::socket(int af, int type, int protocol) {
  if (d_->startups == 0) {
    t_last_error = ws::kNotInitialised;
    return ws::kInvalidSocket;
  }
  if (af != ws::kAfInet && af != ws::kAfInet6) {
    t_last_error = ws::kEAfNoSupport;
    return ws::kInvalidSocket;
  }
  if (type != ws::kSockStream) {
    t_last_error = 10044;
    return ws::kInvalidSocket;
  }
  int fd = ::socket(af == ws::kAfInet6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    t_last_error = ws::ErrorFromErrno(errno);
    return ws::kInvalidSocket;
  }
  // Every write of a line protocol is a whole command: Nagle's delay with the
  // peer's delayed acknowledgement would hold back each second line by 40 ms.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  auto rec = std::make_unique<Impl::Sock>();
  rec->fd = fd;
  rec->serial = d_->next_serial++;
  TSocket s = static_cast<TSocket>(fd);
  d_->sockets[s] = std::move(rec);
  return s;
}

int TPosixWinsock::gethostname(char* name, int namelen) {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  if (!name || namelen <= 0) return Fail(ws::kEFault);
  if (::gethostname(name, static_cast<std::size_t>(namelen)) != 0)
    return Fail(ws::ErrorFromErrno(errno));
  name[namelen - 1] = '\0';
  return 0;
}

int TPosixWinsock::WSAStartup(std::uint16_t version, TWSAData* data) {
  if ((version & 0xFF) < 1) return ws::kVerNotSupported;
  if (data) {
    data->wVersion = 0x0101;
    data->wHighVersion = 0x0101;
    data->szDescription = "POSIX sockets";
    data->szSystemStatus = "Running";
  }
  ++d_->startups;
  return 0;
}

int TPosixWinsock::WSACleanup() {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  if (--d_->startups == 0) d_->CancelAll();
  return 0;
}

int TPosixWinsock::WSAGetLastError() { return t_last_error; }

bool TPosixWinsock::WSAIsBlocking() { return false; }

int TPosixWinsock::WSACancelBlockingCall() { return Fail(ws::kEInval); }

TAsyncHandle TPosixWinsock::WSAAsyncGetServByName(TNotifyWindow* wnd, unsigned msg,
                                                  const char* name, const char* proto,
                                                  TServEnt* buf) {
  if (d_->startups == 0) {
    t_last_error = ws::kNotInitialised;
    return 0;
  }
  if (!wnd || !name || !buf) {
    t_last_error = ws::kEFault;
    return 0;
  }
  auto resolver = ServResolver;
  std::string n = name, p = proto ? proto : "";
  return d_->StartLookup(
      wnd, msg,
      [resolver, n, p](Impl::Lookup& out) {
        return resolver ? resolver(n, p, out.serv) : ws::kNoData;
      },
      nullptr, buf);
}

TAsyncHandle TPosixWinsock::WSAAsyncGetHostByName(TNotifyWindow* wnd, unsigned msg,
                                                  const char* name, THostEnt* buf) {
  if (d_->startups == 0) {
    t_last_error = ws::kNotInitialised;
    return 0;
  }
  if (!wnd || !name || !buf) {
    t_last_error = ws::kEFault;
    return 0;
  }
  auto resolver = HostResolver;
  std::string n = name;
  return d_->StartLookup(
      wnd, msg,
      [resolver, n](Impl::Lookup& out) {
        return resolver ? resolver(n, out.host) : ws::kHostNotFound;
      },
      buf, nullptr);
}

int TPosixWinsock::WSACancelAsyncRequest(TAsyncHandle handle) {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  auto it = d_->lookups.find(handle);
  if (it == d_->lookups.end()) return Fail(ws::kEInval);
  {
    std::lock_guard lock(it->second->m);
    it->second->canceled = true;
  }
  d_->lookups.erase(it);
  return 0;
}

int TPosixWinsock::WSAAsyncSelect(TSocket s, TNotifyWindow* wnd, unsigned msg, long events) {
  if (d_->startups == 0) return Fail(ws::kNotInitialised);
  Impl::Sock* rec = d_->Find(s);
  if (!rec) return Fail(ws::kENotSock);
  int flags = ::fcntl(rec->fd, F_GETFL);
  if (flags < 0 || ::fcntl(rec->fd, F_SETFL, flags | O_NONBLOCK) < 0)
    return Fail(ws::ErrorFromErrno(errno));
  rec->wnd = wnd;
  rec->msg = msg;
  rec->events = events;
  if (events == 0 || !wnd) {
    if (rec->rd) rec->rd->setEnabled(false);
    if (rec->wr) rec->wr->setEnabled(false);
    return 0;
  }
  if (rec->state == Impl::Sock::kConnected) {
    d_->PostEvent(s, *rec, ws::kFdWrite, 0);
    d_->ArmRead(s, *rec);
  }
  return 0;
}

int TPosixWinsock::getsockname(TSocket s, TSockAddrIn* name) {
  sockaddr_storage sa{};
  if (d_->LocalEnd(s, name, sa) != 0) return ws::kSocketError;
  if (sa.ss_family != AF_INET) return Fail(ws::kEFault);
  const auto& in = reinterpret_cast<const sockaddr_in&>(sa);
  name->sin_family = ws::kAfInet;
  name->sin_port = in.sin_port;
  name->sin_addr = in.sin_addr.s_addr;
  return 0;
}

int TPosixWinsock::getsockname(TSocket s, TSockAddrIn6* name) {
  sockaddr_storage sa{};
  if (d_->LocalEnd(s, name, sa) != 0) return ws::kSocketError;
  if (sa.ss_family != AF_INET6) return Fail(ws::kEFault);
  const auto& in = reinterpret_cast<const sockaddr_in6&>(sa);
  name->sin6_family = ws::kAfInet6;
  name->sin6_port = in.sin6_port;
  name->sin6_flowinfo = in.sin6_flowinfo;
  std::memcpy(name->sin6_addr.data(), &in.sin6_addr, 16);
  name->sin6_scope_id = in.sin6_scope_id;
  return 0;
}
