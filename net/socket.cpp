#include "net/socket.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <utility>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include "mail/headers.h"
#include "net/connect_race.h"
#include "platform/errors.h"
#include "platform/messages.h"

namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int Percent(std::int64_t pos, std::int64_t size) {
  if (size <= 0) return 100;
  return static_cast<int>((pos * 200 + size) / (2 * size));
}

}  // namespace

TRasLink::~TRasLink() {
  for (TagSocket* s : linked_) s->ras_ = nullptr;
}

TagSocket::TagSocket()
    : notify_window_(std::make_unique<TNotifyWindow>(
          [this](unsigned m, std::uintptr_t w, std::uint32_t l) { WndProc(m, w, l); })),
      timer_(std::make_unique<QTimer>()) {
  timer_->setInterval(1000);
  QObject::connect(timer_.get(), &QTimer::timeout, [this] { TimerTick(); });
}

TagSocket::~TagSocket() {
  TagWinsock& w = Winsock();
  if (w.Loaded()) {
    try {
      if (AsyncHandle != 0) w.WSACancelAsyncRequest(AsyncHandle);
    } catch (const EError&) {
    }
  }
  race_.reset();
  notify_window_.reset();
  // Close what is still open here rather than leave it to the last cleanup,
  // which another socket may hold off.
  if (Connected() && w.Loaded()) {
    try {
      w.closesocket(SocketHandle);
    } catch (const EError&) {
    }
  }
  for (; StartupCount > 0; --StartupCount) {
    try {
      if (w.Loaded()) w.WSACleanup();
    } catch (const EError&) {
    }
  }
  log_file_.reset();
  if (!LogFileName.empty()) {
    try {
      SaveLinesToFile(ProtocolLog, LogFileName);
    } catch (const std::exception&) {
      // Nowhere to report from a destructor; the dialogue itself succeeded.
    }
  }
  SetRAS(nullptr);
  SetWinsockLoaded(false);
}

bool TagSocket::WinsockLoaded() const { return Winsock().Loaded(); }

// The binding is shared: each socket holds one count on it, so that one
// socket letting go never closes another's connection.
void TagSocket::SetWinsockLoaded(bool value) {
  if (value) {
    if (!holds_binding_) {
      Winsock().Acquire();
      holds_binding_ = true;
    } else if (!Winsock().Loaded()) {
      Winsock().Load();
    }
  } else if (holds_binding_) {
    holds_binding_ = false;
    Winsock().Release();
  }
}

void TagSocket::SetRAS(TRasLink* ras) {
  if (ras_ == ras) return;
  if (ras_) std::erase(ras_->linked_, this);
  ras_ = ras;
  if (ras_) ras_->linked_.push_back(this);
}

void TagSocket::WndProc(unsigned msg, std::uintptr_t /*wparam*/, std::uint32_t lparam) {
  std::uint16_t error = TagWinsock::WSAGetAsyncError(lparam);
  switch (msg) {
    case kHostLookupDone:
      HostResolved = true;
      AsyncError = error;
      AsyncFailed = error != 0;
      break;
    case kServiceLookupDone:
      ServiceResolved = true;
      AsyncError = error;
      AsyncFailed = error != 0;
      break;
    case kSocketEvent:
      AsyncError = error;
      AsyncFailed = error != 0;
      if (error == 0) {
        switch (TagWinsock::WSAGetSelectEvent(lparam)) {
          case ws::kFdRead:
            ReadReady = true;
            break;
          case ws::kFdConnect:
            ConnectDone = true;
            break;
          case ws::kFdClose:
            PeerClosed = true;
            break;
          default:
            break;
        }
      }
      break;
    default:
      break;
  }
}

void TagSocket::TimerTick() {
  if (--TimeLeft != 0) return;
  // Runs inside the event loop: nothing may escape from here.
  try {
    TagWinsock& w = Winsock();
    if (AsyncHandle != 0) {
      if (w.Loaded()) w.WSACancelAsyncRequest(AsyncHandle);
      AsyncHandle = 0;
    }
    if (w.Loaded() && w.WSAIsBlocking()) w.WSACancelBlockingCall();
  } catch (const EError&) {
    AsyncHandle = 0;
  }
  timer_->stop();
  TimedOut = true;
}

void TagSocket::StartTimer() {
  TimeLeft = TimeOut;
  if (deadline_ms_ >= 0 && TimeOut > 0) {
    // The timer counts whole seconds: the wait ends at the deadline's second.
    const std::int64_t left = (deadline_ms_ - NowMs() + 999) / 1000;
    TimeLeft = static_cast<int>(std::clamp<std::int64_t>(left, 1, TimeOut));
  }
  timer_->start();
}

void TagSocket::BeginDeadline() { deadline_ms_ = TimeOut > 0 ? NowMs() + TimeOut * 1000LL : -1; }

bool TagSocket::DeadlinePassed() const { return deadline_ms_ >= 0 && NowMs() >= deadline_ms_; }

void TagSocket::StopTimer() { timer_->stop(); }

void TagSocket::PumpOnce() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TagSocket::WaitNext() {
  if (!QAbstractEventDispatcher::instance())
    throw ESocketError("No event loop runs on this thread");
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TagSocket::WaitFor(const std::function<bool()>& done) {
  while (!done()) WaitNext();
}

void TagSocket::Reset() {
  TimedOut = false;
  Canceled = false;
  AsyncFailed = false;
  HostResolved = false;
  ServiceResolved = false;
  ConnectDone = false;
  ReadReady = false;
  PeerClosed = false;
  AsyncHandle = 0;
}

void TagSocket::RaiseText(const std::string& text) {
  StopTimer();
  std::string msg = text;
  if (OnError) OnError(*this, msg);
  throw ESocketError(msg);
}

void TagSocket::RaiseSocketError(std::uint16_t code) {
  if (code == 0) return;
  RaiseText(MessageText(code));
}

void TagSocket::RaiseTimedOut() {
  StopTimer();
  std::string msg = MessageText(msg::kTimedOut);
  if (OnError) OnError(*this, msg);
  Close();
  throw ETimedOutError(MessageText(msg::kTimedOut));
}

void TagSocket::RaiseCanceled() {
  StopTimer();
  std::string msg = MessageText(msg::kCanceled);
  if (OnError) OnError(*this, msg);
  throw ECanceledError(MessageText(msg::kCanceled));
}

void TagSocket::CheckLineSafe(const std::string& text) {
  if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    RaiseSocketError(kLineBreakNotAllowed);
}

void TagSocket::Log(const std::string& line) {
  if (LogFileName.empty()) return;
  ProtocolLog.push_back(line);
  // Written as the dialogue goes: a program that is killed still leaves it.
  auto write = [this](const std::string& l) {
    std::fwrite(l.data(), 1, l.size(), log_file_.get());
    std::fwrite("\r\n", 1, 2, log_file_.get());
  };
  if (log_file_name_ != LogFileName) {
    log_file_name_ = LogFileName;
    log_file_.reset(std::fopen(LogFileName.c_str(), "wb"));
    if (log_file_)
      for (const std::string& l : ProtocolLog) write(l);
  } else if (log_file_) {
    write(line);
  }
  if (log_file_) std::fflush(log_file_.get());
}

void TagSocket::Open() {
  if (ras_) ras_->Dial();
  try {
    OpenSocket();
  } catch (...) {
    // A line dialled for this connection is not left up when it fails.
    if (ras_) ras_->Cancel();
    throw;
  }
}

void TagSocket::ReadLine(std::string& line) {
  if (!Connected()) RaiseSocketError(msg::kNotConnected);
  // TLS may already hold what the socket delivered earlier, or the socket
  // may hold records whose read notice an earlier line already used up:
  // a look through the filter answers both and re-arms the notice.
  if (tls_) {
    int error = 0;
    char first = 0;
    if (Recv(&first, 1, true, error) >= 0 || error != ws::kEWouldBlock) ReadReady = true;
  }
  StartTimer();
  WaitFor([this] {
    return ReadReady || Canceled || TimedOut || AsyncFailed || PeerClosed ||
           (tls_ && tls_->Buffered());
  });
  StopTimer();
  if (Canceled) RaiseCanceled();
  if (TimedOut) RaiseTimedOut();
  if (AsyncFailed) RaiseSocketError(AsyncError);

  StartTimer();
  ReadReady = false;
  PumpOnce();
  line.clear();
  auto finish = [&] {
    StopTimer();
    Log(line);
    if (OnLineReceived) OnLineReceived(*this, line);
  };
  try {
    std::string buf(kMaxLine, '\0');
    int fill = 0;
    bool found = false;
    // Look at what has arrived, then take it up to and including the line
    // feed: nothing after the line is read.
    for (;;) {
      PumpOnce();
      if (Canceled || TimedOut) break;
      int error = 0;
      int n = Recv(buf.data() + fill, kMaxLine - fill, true, error);
      if (n > 0) {
        const char* start = buf.data() + fill;
        const void* lf = std::memchr(start, '\n', static_cast<std::size_t>(n));
        int take = lf ? static_cast<int>(static_cast<const char*>(lf) - start) + 1 : n;
        n = Recv(buf.data() + fill, take, false, error);
        if (n > 0) {
          fill += n;
          if (lf && n == take) {
            found = true;
            break;
          }
          if (fill == kMaxLine) RaiseSocketError(ws::kEMsgSize);
          continue;
        }
      }
      if (n == 0 && PeerClosed) break;
      if (n < 0 && error != ws::kEWouldBlock && !Canceled)
        RaiseSocketError(static_cast<std::uint16_t>(error));
      if (Canceled) break;
      // A reset that the notification reported will bring no more events.
      if (AsyncFailed) RaiseSocketError(AsyncError);
      WaitNext();
    }
    if (found) {
      line.assign(buf.data(), ::strnlen(buf.data(), static_cast<std::size_t>(fill)));
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
      CheckReply(line);
    }
    if (TimedOut) RaiseTimedOut();
    if (Canceled) RaiseCanceled();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TagSocket::WriteLine(const std::string& line) { WriteSecretLine(line, line); }

void TagSocket::WriteSecretLine(const std::string& line, const std::string& shown) {
  if (!Connected()) RaiseSocketError(msg::kNotConnected);
  const std::string text = line + "\r\n";
  StartTimer();
  std::size_t sent = 0;
  while (sent < text.size() && !TimedOut && !Canceled) {
    PumpOnce();
    if (TimedOut || Canceled) break;
    int error = 0;
    int n = Send(text.data() + sent,
                 static_cast<int>(std::min<std::size_t>(text.size() - sent, INT_MAX)), error);
    if (n == ws::kSocketError) {
      if (error == ws::kEWouldBlock) {
        WaitNext();
        continue;
      }
      if (!Canceled) RaiseSocketError(static_cast<std::uint16_t>(error));
      break;
    }
    sent += static_cast<std::size_t>(n);
  }
  StopTimer();
  if (TimedOut) RaiseTimedOut();
  if (Canceled) RaiseCanceled();
  Log(shown);
  if (OnLineSent) OnLineSent(*this, shown);
}

void TagSocket::WriteStream(TStream& stream, const TBlockFilter& filter) {
  stream.SetPosition(0);
  Log("Suppressing the message body");
  const std::int64_t size = stream.Size();
  char block[kBlockSize + 1];
  std::string filtered;
  std::size_t n = 0;
  do {
    n = stream.Read(block, kBlockSize);
    const char* out = block;
    std::size_t len = n;
    if (filter) {
      filtered.clear();
      filter(block, n, filtered);
      out = filtered.data();
      len = filtered.size();
    }
    StartTimer();
    std::size_t sent = 0;
    while (sent < len && !TimedOut && !Canceled) {
      PumpOnce();
      if (TimedOut || Canceled) break;
      int error = 0;
      int r = Send(out + sent, static_cast<int>(len - sent), error);
      if (r == ws::kSocketError) {
        if (error == ws::kEWouldBlock) {
          WaitNext();
          continue;
        }
        // A broken connection ends the stream now, not after the time-out.
        if (!Canceled) RaiseSocketError(static_cast<std::uint16_t>(error));
        break;
      }
      if (r > 0) {
        sent += static_cast<std::size_t>(r);
        StartTimer();  // the time-out bounds a stall, not the whole block
      }
    }
    StopTimer();
    if (OnProgress) OnProgress(*this, Percent(stream.Position(), size));
  } while (n == kBlockSize && !TimedOut && !Canceled);
  if (TimedOut) RaiseTimedOut();
  if (Canceled) RaiseCanceled();
  if (OnProgress) OnProgress(*this, 0);
}

void TagSocket::Close() {
  race_.reset();
  if (Connected()) {
    if (OnClosing) OnClosing(*this);
    TSocket s = SocketHandle;
    SocketHandle = ws::kInvalidSocket;
    if (tls_) tls_->Shutdown(s);
    tls_.reset();
    Winsock().closesocket(s);
    if (OnClosed) OnClosed(*this);
  }
  if (ras_) ras_->Cancel();
}

void TagSocket::Cancel() {
  Canceled = true;
  if (OnCancel) OnCancel(*this);
  if (AsyncHandle != 0) {
    Winsock().WSACancelAsyncRequest(AsyncHandle);
    AsyncHandle = 0;
  }
  Close();
}

void TmsMailBase::Connect() {
  if (Connected()) return;
  try {
    Open();
    Login();
  } catch (...) {
    // A half-made connection would carry the next request, to whatever
    // server the settings name by then. Closed quietly: the failure, not
    // the clean-up, is the last thing the user is told about.
    const auto closing = std::exchange(OnClosing, nullptr);
    const auto closed = std::exchange(OnClosed, nullptr);
    try {
      if (Connected()) Close();
    } catch (const EError&) {
    }
    OnClosing = closing;
    OnClosed = closed;
    throw;
  }
}

void TmsMailBase::Disconnect() {
  if (!Connected()) return;
  try {
    Logout();
  } catch (...) {
    Close();
    throw;
  }
  Close();
}
