#include "net/socket.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <utility>

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
          [this](unsigned m, std::uintptr_t, std::uint32_t l) { LookupDone(m, l); })),
      timer_(std::make_unique<TLoopTimer>([this] { TimerTick(); })) {}

TagSocket::~TagSocket() {
  TagWinsock& w = Winsock();
  try {
    if (async_handle_ != 0 && w.Loaded()) w.WSACancelAsyncRequest(async_handle_);
  } catch (const EError&) {
  }
  race_.reset();
  tls_.reset();
  fd_.reset();
  notify_window_.reset();
  for (; startup_count_ > 0; --startup_count_) {
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
// socket letting go never unloads it under another.
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

void TagSocket::LookupDone(unsigned msg, std::uint32_t lparam) {
  if (msg == kHostLookupDone)
    host_resolved_ = true;
  else if (msg == kServiceLookupDone)
    service_resolved_ = true;
  else
    return;
  lookup_error_ = TagWinsock::WSAGetAsyncError(lparam);
  lookup_failed_ = lookup_error_ != 0;
}

void TagSocket::TimerTick() {
  if (--time_left_ != 0) return;
  // Runs inside the event loop: nothing may escape from here.
  try {
    if (async_handle_ != 0 && Winsock().Loaded()) Winsock().WSACancelAsyncRequest(async_handle_);
  } catch (const EError&) {
  }
  async_handle_ = 0;
  timer_->Stop();
  timed_out_ = true;
}

void TagSocket::StartTimer() {
  time_left_ = TimeOut;
  if (deadline_ms_ >= 0 && TimeOut > 0) {
    // The timer counts whole seconds: the wait ends at the deadline's second.
    const std::int64_t left = (deadline_ms_ - NowMs() + 999) / 1000;
    time_left_ = static_cast<int>(std::clamp<std::int64_t>(left, 1, TimeOut));
  }
  timer_->Start(1000);
}

void TagSocket::BeginDeadline() { deadline_ms_ = TimeOut > 0 ? NowMs() + TimeOut * 1000LL : -1; }

bool TagSocket::DeadlinePassed() const { return deadline_ms_ >= 0 && NowMs() >= deadline_ms_; }

void TagSocket::StopTimer() { timer_->Stop(); }

void TagSocket::PumpOnce() { PumpEvents(); }

void TagSocket::WaitNext() { WaitForEvents(); }

void TagSocket::WaitFor(const std::function<bool()>& done) {
  while (!done()) WaitNext();
}

void TagSocket::Reset() {
  timed_out_ = false;
  canceled_ = false;
  lookup_failed_ = false;
  host_resolved_ = false;
  service_resolved_ = false;
  read_ready_ = false;
  write_ready_ = false;
  peer_closed_ = false;
  async_handle_ = 0;
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
  link_bytes_ = {};
  tls_resumed_ = false;
  if (ras_) ras_->Dial();
  try {
    OpenSocket();
  } catch (...) {
    // A line dialled for this connection is not left up when it fails.
    if (ras_) ras_->Cancel();
    throw;
  }
}

void TagSocket::WaitReady(bool write) {
  bool& ready = write ? write_ready_ : read_ready_;
  ready = false;
  if (write)
    fd_->WatchWrite();
  else
    fd_->WatchRead();
  // A cancel closes the descriptor.
  WaitFor([&] { return ready || canceled_ || timed_out_ || !fd_; });
}

bool TagSocket::TakeLine(std::string& line) {
  const char* start = read_buf_.data() + read_pos_;
  const std::size_t held = read_buf_.size() - read_pos_;
  const void* lf = std::memchr(start, '\n', std::min<std::size_t>(held, kMaxLine));
  if (!lf) {
    // A line longer than the limit is an error, not an ever-growing buffer.
    if (held >= static_cast<std::size_t>(kMaxLine)) RaiseSocketError(ws::kEMsgSize);
    read_buf_.erase(0, read_pos_);
    read_pos_ = 0;
    return false;
  }
  const std::size_t len = static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1;
  line.assign(start, ::strnlen(start, len));
  read_pos_ += len;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return true;
}

void TagSocket::ReadLine(std::string& line) {
  if (!Connected()) RaiseSocketError(msg::kNotConnected);
  line.clear();
  StartTimer();
  auto finish = [&] {
    StopTimer();
    Log(line);
    if (OnLineReceived) OnLineReceived(*this, line);
  };
  try {
    PumpOnce();  // a cancel asked for meanwhile comes first
    bool found = false;
    while (!canceled_ && !timed_out_) {
      if ((found = TakeLine(line))) break;
      // Cut off before its line feed: no line, and no wait for the time-out.
      if (peer_closed_) break;
      char block[16384];
      int error = 0;
      const int n = Recv(block, sizeof block, error);
      if (n > 0) {
        read_buf_.append(block, static_cast<std::size_t>(n));
      } else if (n == 0) {
        peer_closed_ = true;
      } else if (error != ws::kEWouldBlock) {
        RaiseSocketError(static_cast<std::uint16_t>(error));
      } else {
        WaitReady(false);
      }
    }
    if (found) CheckReply(line);
    if (timed_out_) RaiseTimedOut();
    if (canceled_) RaiseCanceled();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TagSocket::SendAll(const char* data, std::size_t len, bool per_stall) {
  StartTimer();
  PumpOnce();
  std::size_t sent = 0;
  while (sent < len && !timed_out_ && !canceled_) {
    if (!fd_) RaiseSocketError(msg::kNotConnected);
    int error = 0;
    const int n =
        Send(data + sent, static_cast<int>(std::min<std::size_t>(len - sent, INT_MAX)), error);
    if (n >= 0) {
      sent += static_cast<std::size_t>(n);
      if (per_stall && n > 0) StartTimer();
    } else if (error == ws::kEWouldBlock) {
      WaitReady(true);
    } else {
      // A broken connection ends the sending now, not after the time-out.
      RaiseSocketError(static_cast<std::uint16_t>(error));
    }
  }
  StopTimer();
  if (timed_out_) RaiseTimedOut();
  if (canceled_) RaiseCanceled();
}

void TagSocket::WriteLine(const std::string& line) { WriteSecretLine(line, line); }

void TagSocket::WriteSecretLine(const std::string& line, const std::string& shown) {
  if (!Connected()) RaiseSocketError(msg::kNotConnected);
  const std::string text = line + "\r\n";
  SendAll(text.data(), text.size(), false);
  Log(shown);
  if (OnLineSent) OnLineSent(*this, shown);
}

void TagSocket::WriteLines(const std::vector<std::string>& lines) { WriteSecretLines(lines, lines); }

void TagSocket::WriteSecretLines(const std::vector<std::string>& lines,
                                 const std::vector<std::string>& shown) {
  if (!Connected()) RaiseSocketError(msg::kNotConnected);
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  SendAll(text.data(), text.size(), false);
  for (const std::string& line : shown) {
    Log(line);
    if (OnLineSent) OnLineSent(*this, line);
  }
}

void TagSocket::WriteStream(TStream& stream, const TBlockFilter& filter) {
  stream.SetPosition(0);
  Log("Suppressing the message body");
  const std::int64_t size = stream.Size();
  char block[kBlockSize + 1];
  std::string out;
  std::size_t n = 0;
  do {
    n = stream.Read(block, kBlockSize);
    if (filter)
      filter(block, n, out);
    else
      out.append(block, n);
    // Blocks go out together, up to a full TLS record: fewer packets and
    // records on the link.
    if (out.size() >= kSendBatch || n != kBlockSize) {
      // The time-out bounds a stall, not the whole batch.
      SendAll(out.data(), out.size(), true);
      out.clear();
    }
    if (OnProgress) OnProgress(*this, Percent(stream.Position(), size));
  } while (n == kBlockSize);
  if (OnProgress) OnProgress(*this, 0);
}

void TagSocket::Close() {
  race_.reset();
  if (Connected()) {
    if (OnClosing) OnClosing(*this);
    if (tls_) tls_->Shutdown();
    tls_.reset();
    link_bytes_ = fd_->Bytes();
    fd_.reset();
    read_buf_.clear();
    read_pos_ = 0;
    if (OnClosed) OnClosed(*this);
  }
  if (ras_) ras_->Cancel();
}

void TagSocket::Cancel() {
  canceled_ = true;
  if (OnCancel) OnCancel(*this);
  if (async_handle_ != 0) {
    Winsock().WSACancelAsyncRequest(async_handle_);
    async_handle_ = 0;
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
