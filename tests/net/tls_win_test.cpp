// The Schannel filter against openssl s_server, started natively by the
// tls_servers fixture (tls_servers.sh); the test itself runs under Wine and
// drives the filter over a Winsock socket of its own.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "net/tls.h"
#include "platform/errors.h"

namespace {

// The fixture's folder as Wine sees it: the host's / is drive Z:.
std::string Servers(const std::string& name) {
  std::string path = std::string("Z:") + TLS_SERVERS_DIR + "/" + name;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string FirstLine(const std::string& name) {
  std::ifstream in(std::filesystem::u8path(Servers(name)));
  std::string line;
  std::getline(in, line);
  return line;
}

std::uint16_t Port(const std::string& server) {
  std::ifstream in(std::filesystem::u8path(Servers("ports")));
  std::string name;
  int port = 0;
  while (in >> name >> port)
    if (name == server) return static_cast<std::uint16_t>(port);
  ADD_FAILURE() << "no port for " << server;
  return 0;
}

struct TWinsock {
  TWinsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
};

// A non-blocking Winsock connection with select() for the waits.
class TWinsockChannel : public TByteChannel {
 public:
  explicit TWinsockChannel(std::uint16_t port) {
    static TWinsock started;
    s_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(s_, reinterpret_cast<sockaddr*>(&to), sizeof to), 0) << WSAGetLastError();
    u_long on = 1;
    ioctlsocket(s_, FIONBIO, &on);
  }
  ~TWinsockChannel() override { closesocket(s_); }
  int Recv(char* buf, int len, int& error) override {
    return Result(::recv(s_, buf, len, 0), error);
  }
  int Send(const char* buf, int len, int& error) override {
    return Result(::send(s_, buf, len, 0), error);
  }
  // False when the socket did not turn ready within ten seconds.
  bool Wait(bool write) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s_, &set);
    timeval limit{10, 0};
    return ::select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &limit) == 1;
  }

 private:
  static int Result(int n, int& error) {
    error = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    return n;
  }
  SOCKET s_ = INVALID_SOCKET;
};

// One connection through the filter.
struct TConnection {
  TWinsockChannel channel;
  TTlsFilter tls;
  TConnection(std::uint16_t port, const TTlsConfig& config) : channel(port), tls(channel, config) {}

  void Handshake() {
    for (int error = 0; !tls.Handshake(error);) {
      ASSERT_EQ(error, 0);
      ASSERT_TRUE(channel.Wait(tls.WantsWrite())) << "the handshake stalled";
    }
  }
  // What the server sends until the text ends with `last`, or until it
  // ends the connection.
  std::string Read(const std::string& last = "") {
    std::string got;
    char buf[100];  // smaller than a record: the rest stays in the filter
    for (;;) {
      int error = 0;
      const int n = tls.Recv(buf, sizeof buf, error);
      if (n == 0) return got;
      if (n > 0) {
        got.append(buf, static_cast<std::size_t>(n));
        if (!last.empty() && got.ends_with(last)) return got;
      } else {
        EXPECT_EQ(error, WSAEWOULDBLOCK);
        if (error != WSAEWOULDBLOCK) return got;
        if (!channel.Wait(false)) {
          ADD_FAILURE() << "nothing more came after: " << got;
          return got;
        }
      }
    }
  }
  // s_server -www answers a request with a page about the session, and
  // leaves the connection open.
  std::string Fetch() {
    const std::string request = "GET / HTTP/1.0\r\n\r\n";
    for (int error = 0; tls.Send(request.data(), static_cast<int>(request.size()), error) < 0;)
      if (error != WSAEWOULDBLOCK || !channel.Wait(true)) return "(send failed)";
    return Read("</BODY></HTML>\r\n\r\n");
  }
};

TTlsConfig Config(const std::string& host, const std::string& server, bool ca = true) {
  return {host, ca ? Servers("ca.pem") : "", "", Port(server)};
}

// The text of the certificate error that Verify raises, or "" when it passes.
std::string Verified(TConnection& c) {
  try {
    c.tls.Verify();
    return "";
  } catch (const ECertificateError& e) {
    return e.what();
  }
}

TEST(TlsWinTest, ServerNamedByNameOrAddressIsAcceptedAndCarriesText) {
  // A wildcard stands for one whole label.
  for (const auto& [server, host] :
       {std::pair{"server", "localhost"}, std::pair{"server", "127.0.0.1"},
        std::pair{"wildcard", "mail.example.net"}}) {
    SCOPED_TRACE(host);
    TConnection c(Port(server), Config(host, server));
    c.Handshake();
    EXPECT_EQ(Verified(c), "");
    EXPECT_EQ(c.tls.PeerFingerprint(), FirstLine(server + std::string(".fp")));
    const std::string page = c.Fetch();
    EXPECT_EQ(page.rfind("HTTP/1.0 200 ok\r\n", 0), 0u) << page;
    EXPECT_NE(page.find("Verify return code"), std::string::npos) << page;
  }
}

TEST(TlsWinTest, EachRefusalSaysWhy) {
  const std::string server_fp = FirstLine("server.fp");
  const std::string other_fp = FirstLine("other.fp");
  const std::string refused = "The server's certificate was refused: ";
  struct Case {
    std::string server;
    TTlsConfig config;
    std::string expected;
  };
  TTlsConfig pinned = Config("127.0.0.1", "server");
  pinned.Fingerprint = other_fp;
  const Case cases[] = {
      {"other", Config("127.0.0.1", "other"),
       refused + "it names another server than 127.0.0.1; its SHA-256 fingerprint is " + other_fp},
      {"other", Config("localhost", "other"), refused + "it names another server than localhost"},
      {"server", Config("localhost", "server", false), refused + "its issuer is unknown"},
      {"expired", Config("127.0.0.1", "expired"), refused + "it has expired"},
      // Only the alternative names count, not the subject's name.
      {"cnonly", Config("localhost", "cnonly"), refused + "it names another server than localhost"},
      {"partial", Config("mail.example.net", "partial"),
       refused + "it names another server than mail.example.net"},
      {"wildcard", Config("a.mail.example.net", "wildcard"),
       refused + "it names another server than a.mail.example.net"},
      {"server", pinned,
       "The server's certificate does not match the pinned fingerprint; its SHA-256 fingerprint "
       "is " +
           server_fp},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.server + " as " + k.config.Host);
    TConnection c(k.config.Port, k.config);
    c.Handshake();
    EXPECT_EQ(Verified(c).rfind(k.expected, 0), 0u) << Verified(c);
  }
}

TEST(TlsWinTest, PinnedFingerprintAloneDecides) {
  // Another name and no trusted issuer; the pin written in lower case.
  TTlsConfig config = Config("127.0.0.1", "other", false);
  for (char c : FirstLine("other.fp")) config.Fingerprint += static_cast<char>(std::tolower(c));
  TConnection c(config.Port, config);
  c.Handshake();
  EXPECT_EQ(Verified(c), "");
  EXPECT_EQ(c.Fetch().rfind("HTTP/1.0 200 ok", 0), 0u);
}

// Schannel resumes within one credentials handle (Wine 8's does not resume
// at all): what the filter reports must agree with what the server saw.
TEST(TlsWinTest, ResumedAgreesWithTheServer) {
  for (int i = 0; i < 2; ++i) {
    TConnection c(Port("server"), Config("localhost", "server"));
    c.Handshake();
    EXPECT_EQ(Verified(c), "");
    const bool resumed = c.tls.Resumed();
    const std::string page = c.Fetch();
    EXPECT_NE(page.find(resumed ? "\nReused, TLS" : "\nNew, TLS"), std::string::npos) << page;
  }
}

// The closing alert reaches the server, which then ends the connection
// instead of waiting for a request.
TEST(TlsWinTest, ShutdownEndsTheSessionOrderly) {
  TConnection c(Port("server"), Config("localhost", "server"));
  c.Handshake();
  c.tls.Shutdown();
  EXPECT_EQ(c.Read(), "");
}

TEST(TlsWinTest, UnreadableTrustFileIsRefusedBeforeConnecting) {
  TWinsockChannel channel(Port("server"));
  const std::string missing = Servers("missing.pem");
  try {
    TTlsFilter tls(channel, {"localhost", missing, "", 0});
    ADD_FAILURE() << "accepted";
  } catch (const ESocketError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot read the certificates in " + missing);
  }
}

// A server that answers in plain text on the TLS port.
TEST(TlsWinTest, PlainTextPeerIsToldApart) {
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof at;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ::listen(listener, 1);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size);
  std::thread peer([listener] {
    SOCKET s = ::accept(listener, nullptr, nullptr);
    ::send(s, "220 mail.example ESMTP\r\n", 24, 0);
    char buf[512];
    while (::recv(s, buf, sizeof buf, 0) > 0) {
    }
    closesocket(s);
  });
  {
    TConnection c(ntohs(at.sin_port), {"localhost", "", "", 0});
    EXPECT_THROW(c.Handshake(), ESocketError);
    EXPECT_TRUE(c.tls.PeerNotTls());
  }
  peer.join();
  closesocket(listener);
}

}  // namespace
