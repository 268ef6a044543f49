// Making the connection: the server's addresses and port, then the race
// between the addresses (net/connect_race.h) under the socket's time-out
// and cancel.
#include <charconv>

#include "net/connect_race.h"
#include "net/socket.h"
#include "platform/errors.h"
#include "platform/messages.h"

namespace {

constexpr std::size_t kMaxHost = 127;
constexpr std::size_t kMaxService = 63;

// The whole text as a decimal integer, else 0 (a port of "25x" is no port).
std::int32_t StrToIntDef(const std::string& text) {
  std::int32_t value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last || first == last) return 0;
  return value;
}

}  // namespace

std::string TagSocket::PeerName() const {
  return SplitServer(Server).host + " port " + std::to_string(port_);
}

void TagSocket::OpenSocket() {
  if (OnOpen) OnOpen(*this);
  // The protocol log holds the last connection's dialogue only, so that it
  // stays small however long the program runs; the next line starts it anew.
  ProtocolLog.clear();
  log_file_.reset();
  log_file_name_.clear();
  if (Server.empty()) RaiseSocketError(msg::kServerRequired);
  CheckLineSafe(Server);
  TagWinsock& w = Winsock();
  if (w.WSAStartup(0x0101, &wsa_data_) != 0) RaiseSocketError(msg::kInvalidWinsockVersion);
  ++startup_count_;

  const TServerParts parts = SplitServer(Server);
  const std::string host = parts.host.substr(0, kMaxHost);
  char name[512] = {};
  if (w.gethostname(name, sizeof name) == 0)
    local_host_name_ = name;
  else
    local_host_name_ = host;
  ResolveHost(host);
  ResolvePort(parts);
  OpenFirstSocket();
}

void TagSocket::ResolveHost(const std::string& host) {
  looked_up_ = false;
  TIn6Addr v6{};
  std::uint32_t scope_id = 0;
  const std::uint32_t v4 = Winsock().inet_addr(host.c_str());
  if (v4 != ws::kInaddrNone)
    addresses_ = {TIpAddress::FromV4(v4)};
  else if (ws::ParseIpv6(host, v6, scope_id))
    addresses_ = {TIpAddress::FromV6(v6, scope_id)};
  else
    LookUpHost(host);
  peer_ = addresses_.front();
}

void TagSocket::LookUpHost(const std::string& host) {
  TagWinsock& w = Winsock();
  host_resolved_ = false;
  host_ent_ = THostEnt{};
  async_handle_ =
      w.WSAAsyncGetHostByName(notify_window_.get(), kHostLookupDone, host.c_str(), &host_ent_);
  if (async_handle_ == 0) RaiseSocketError(static_cast<std::uint16_t>(w.WSAGetLastError()));
  StartTimer();
  WaitFor([this] { return host_resolved_ || canceled_ || timed_out_; });
  StopTimer();
  async_handle_ = 0;
  if (host_resolved_ && lookup_failed_) RaiseSocketError(lookup_error_);
  if (timed_out_) RaiseTimedOut();
  if (canceled_) RaiseCanceled();
  PumpOnce();
  addresses_ = DialOrder(host_ent_);
  if (addresses_.empty()) RaiseSocketError(msg::kErrorResolvingHost);
  host_address_ = addresses_.front().Text();
  looked_up_ = true;
}

void TagSocket::ResolvePort(const TServerParts& parts) {
  const std::int32_t port = parts.has_port ? StrToIntDef(parts.port) : 0;
  if ((port & 0xFFFF) != 0) {
    port_ = static_cast<std::uint16_t>(port & 0xFFFF);
    return;
  }
  if (ImpliedPort() != 0) {
    port_ = ImpliedPort();
    return;
  }
  if (ServiceName.empty()) RaiseSocketError(msg::kServiceNameRequired);
  if (canceled_) RaiseCanceled();
  TagWinsock& w = Winsock();
  const std::string service = ServiceName.substr(0, kMaxService);
  service_resolved_ = false;
  serv_ent_ = TServEnt{};
  async_handle_ = w.WSAAsyncGetServByName(notify_window_.get(), kServiceLookupDone, service.c_str(),
                                          "tcp", &serv_ent_);
  if (async_handle_ == 0) {
    port_ = DefaultPort;
    return;
  }
  StartTimer();
  WaitFor([this] { return service_resolved_ || canceled_ || timed_out_; });
  StopTimer();
  async_handle_ = 0;
  if ((service_resolved_ && lookup_failed_) || timed_out_) {
    // A time-out is not raised here: it stays set and ends the connect.
    port_ = DefaultPort;
  } else if (canceled_) {
    RaiseCanceled();
  } else {
    port_ = static_cast<std::uint16_t>((serv_ent_.s_port >> 8) | (serv_ent_.s_port << 8));
  }
}

void TagSocket::OpenFirstSocket() {
  TagWinsock& w = Winsock();
  for (;;) {
    const std::uint16_t family = addresses_.front().Family();
    const TSocket s = w.socket(family, ws::kSockStream, 0);
    if (s != ws::kInvalidSocket) {
      fd_ = std::make_unique<TFdSocket>(s);
      break;
    }
    const int error = w.WSAGetLastError();
    // A system without IPv6 still dials the server's IPv4 addresses.
    std::erase_if(addresses_, [family](const TIpAddress& a) { return a.Family() == family; });
    if (addresses_.empty() || error != ws::kEAfNoSupport)
      RaiseSocketError(static_cast<std::uint16_t>(error));
  }
  peer_ = addresses_.front();
}

void TagSocket::ConnectSocket() {
  if (canceled_) RaiseCanceled();
  if (!Connected()) RaiseSocketError(msg::kNotConnected);
  race_ = std::make_unique<TConnectRace>(addresses_, port_, *fd_);
  struct Guard {
    std::unique_ptr<TConnectRace>& race;
    ~Guard() { race.reset(); }
  } guard{race_};
  StartTimer();
  race_->Advance();
  // Close (a cancel) ends the race too.
  const auto over = [this] { return !race_ || race_->Done() || canceled_ || timed_out_; };
  for (;;) {
    WaitFor([&] { return over() || race_->Due(); });
    if (over()) break;
    race_->Advance();
  }
  StopTimer();
  if (canceled_) RaiseCanceled();
  if (timed_out_) RaiseTimedOut();
  if (!race_) RaiseSocketError(msg::kNotConnected);
  // A failed connect says where it went: the settings may name another
  // server or port than the user thinks.
  if (!race_->Won()) RaiseText(MessageText(race_->Error()) + " (" + PeerName() + ")");
  AdoptWinner();
  if (OnConnected) OnConnected(*this);
}

void TagSocket::AdoptWinner() {
  std::unique_ptr<TFdSocket> winner = race_->TakeWinner();
  peer_ = race_->WinnerAddress();
  race_.reset();
  if (winner) fd_ = std::move(winner);  // closes the first socket
  if (looked_up_) host_address_ = peer_.Text();
  read_buf_.clear();
  read_pos_ = 0;
  fd_->OnReadable = [this] { read_ready_ = true; };
  fd_->OnWritable = [this] { write_ready_ = true; };
}

std::uint32_t TagSocket::LocalAddress() const {
  const std::optional<TIpAddress> local = LocalIpAddress();
  return local && !local->v6 ? local->v4 : 0;
}

std::optional<TIpAddress> TagSocket::LocalIpAddress() const {
  if (!Connected()) return std::nullopt;
  return fd_->LocalAddress();
}
