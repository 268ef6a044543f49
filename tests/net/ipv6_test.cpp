// IPv6 servers, and a server of both families reached as RFC 8305 has it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>

#include <cstdio>
#include <filesystem>

#include "net/connect_race.h"
#include "net_support.h"
#include "platform/errors.h"

namespace {

// A host name without dots: the client greets with its address literal.
class UndottedHostLayer : public TPosixWinsock {
 public:
  int gethostname(char* name, int namelen) override {
    std::snprintf(name, static_cast<std::size_t>(namelen), "%s", "tolvane-test");
    return 0;
  }
};

// A listener whose accept queue is full: the kernel drops further SYNs, so
// a connect there neither succeeds nor fails.
class FullListener {
 public:
  FullListener(const char* address, std::uint16_t port) {
    sockaddr_storage sa{};
    auto* in4 = reinterpret_cast<sockaddr_in*>(&sa);
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&sa);
    const bool v6 = ::inet_pton(AF_INET6, address, &in6->sin6_addr) == 1;
    sa.ss_family = v6 ? AF_INET6 : AF_INET;
    if (v6)
      in6->sin6_port = htons(port);
    else if (::inet_pton(AF_INET, address, &in4->sin_addr) == 1)
      in4->sin_port = htons(port);
    const auto* addr = reinterpret_cast<const sockaddr*>(&sa);
    const socklen_t len = v6 ? sizeof *in6 : sizeof *in4;
    fd_ = ::socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(fd_, addr, len) != 0 || ::listen(fd_, 0) != 0)
      throw std::runtime_error(std::string("cannot listen on ") + address);
    for (int i = 0; i < 8; ++i) {
      fillers_.push_back(::socket(sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      ::connect(fillers_.back(), addr, len);
      pollfd p{fillers_.back(), POLLOUT, 0};
      if (::poll(&p, 1, 300) == 0) return;  // this one hangs: the queue is full
    }
    throw std::runtime_error(std::string("the accept queue never filled on ") + address);
  }
  ~FullListener() {
    for (int fd : fillers_) ::close(fd);
    ::close(fd_);
  }

 private:
  int fd_ = -1;
  std::vector<int> fillers_;
};

// The sockets this process holds open.
std::size_t OpenSockets() {
  std::size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(e.path(), ec).string().starts_with("socket:")) ++n;
  }
  return n;
}

class Ipv6Test : public NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    if (!HaveIpv6Loopback()) GTEST_SKIP() << "This kernel has no IPv6: ::1 cannot be bound";
  }
};

// A password goes in plain text to loopback only, ::1 included; over TLS
// the certificate's IP address ::1 must match the bracketed setting.
TEST_F(Ipv6Test, BracketedAddressDeliversToAServerOnIpv6Only) {
  Winsock().SetLoader([] { return std::make_unique<UndottedHostLayer>(); });
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "plain");
    std::vector<std::string> options = {"--host", "::1", "--auth", "alice:pw", "--plain-auth"};
    if (tls)
      options.insert(options.end(), {"--tls", "--cert", TestCertificates() / "server.pem", "--key",
                                     TestCertificates() / "server.key"});
    RealSmtpServer server(options);
    SmtpClient c(server.Address());
    ASSERT_EQ(c.smtp.Server, "[::1]:" + std::to_string(server.port()));
    RequestMessage(c.message);
    c.smtp.UserName = "alice";
    c.smtp.Password = "pw";
    if (tls) {
      c.smtp.Security = TSmtpSecurity::Tls;
      c.smtp.CAFile = TestCertificates() / "ca.pem";
    }
    c.smtp.Send();
    const auto got = server.Messages();
    ASSERT_EQ(got.size(), 1u) << c.log;
    EXPECT_EQ(got[0].helo, "[IPv6:::1]");
  }
}

// IPv6 is dialled first; its refusal hands over to IPv4 at once, not
// after the delay. With both refused, the error names the server as set.
TEST_F(Ipv6Test, RefusedIpv6FallsBackToIpv4AtOnce) {
  ResolveEveryNameToLoopback(true);
  const std::string closed = std::to_string(ClosedPort());
  SmtpClient refused("mail.example:" + closed);
  RequestMessage(refused.message);
  EXPECT_EQ(Raised<ESocketError>([&] { refused.smtp.Send(); }),
            "[10061] Connection refused (mail.example port " + closed + ")");

  RealSmtpServer server;
  SmtpClient c("mail.example:" + std::to_string(server.port()));
  RequestMessage(c.message);
  QElapsedTimer t;
  qint64 connected = -1;
  c.smtp.OnConnected = [&](TagSocket&) { connected = t.elapsed(); };
  // A long delay, so that a loaded machine cannot blur "at once".
  TConnectRace::AttemptDelayMs = 4000;
  t.start();
  c.smtp.Send();
  TConnectRace::AttemptDelayMs = TConnectRace::kAttemptDelayMs;
  EXPECT_EQ(server.Messages().size(), 1u);
  EXPECT_EQ(c.smtp.HostAddress(), "127.0.0.1");
  EXPECT_GE(connected, 0);
  EXPECT_LT(connected, 2000);
}

// Connects that hang (IPv6, then the first IPv4 address) keep running while
// the next address starts after each delay; the third wins and the two
// hanging attempts are closed.
TEST_F(Ipv6Test, HangingAttemptsLoseToTheNextAddressAfterTheDelay) {
  RealSmtpServer server;
  FullListener hanging6("::1", server.port());
  FullListener hanging4("127.0.0.2", server.port());
  UseWinsock([](TPosixWinsock& l) {
    l.HostResolver = [](const std::string&, THostEnt& out) {
      out.h_addr6_list = {TIn6Addr{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}};
      out.h_addr_list = {inet_addr("127.0.0.2"), inet_addr("127.0.0.1")};
      return 0;
    };
  });
  SmtpClient c("mail.example:" + std::to_string(server.port()), 20);
  RequestMessage(c.message);
  QElapsedTimer t;
  qint64 connected = -1;
  c.smtp.OnConnected = [&](TagSocket&) { connected = t.elapsed(); };
  const std::size_t sockets = OpenSockets();
  t.start();
  c.smtp.Connect();
  EXPECT_EQ(OpenSockets(), sockets + 1);
  c.smtp.Send();
  EXPECT_EQ(server.Messages().size(), 1u);
  EXPECT_EQ(c.smtp.PeerAddress().Text(), "127.0.0.1");
  EXPECT_GE(connected, 2 * TConnectRace::kAttemptDelayMs * 4 / 5);
  EXPECT_LT(connected, 3000);  // the time-out is 20 s
}

// A bare text with more than one ":" is an IPv6 address without a port.
TEST(ServerSetting, BracketsSetAnIpv6AddressApartFromItsPort) {
  struct Case {
    const char *server, *host, *port;
    bool has_port;
  };
  for (const Case k :
       {Case{"[::1]:2525", "::1", "2525", true}, Case{"[2001:db8::7]", "2001:db8::7", "", false},
        Case{"2001:db8::7", "2001:db8::7", "", false},
        Case{"mail.example:587", "mail.example", "587", true},
        Case{"192.0.2.7", "192.0.2.7", "", false}}) {
    const TServerParts parts = SplitServer(k.server);
    EXPECT_EQ(parts.host, k.host) << k.server;
    EXPECT_EQ(parts.port, k.port) << k.server;
    EXPECT_EQ(parts.has_port, k.has_port) << k.server;
  }
}

TEST(DialOrder, Ipv6FirstThenTheFamiliesInTurn) {
  THostEnt host;
  for (const char* a : {"192.0.2.1", "192.0.2.2", "192.0.2.3"})
    host.h_addr_list.push_back(inet_addr(a));
  for (std::uint8_t last : {1, 2})
    host.h_addr6_list.push_back(
        TIn6Addr{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last});
  std::vector<std::string> order;
  for (const TIpAddress& a : DialOrder(host)) order.push_back(a.Text());
  EXPECT_EQ(order, (std::vector<std::string>{"2001:db8::1", "192.0.2.1", "2001:db8::2", "192.0.2.2",
                                             "192.0.2.3"}));
}

}  // namespace
