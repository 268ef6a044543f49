// The asynchronous client socket against scripted loopback peers and a
// stand-in resolver.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include <QElapsedTimer>
#include <QTimer>

#include "net_support.h"
#include "platform/errors.h"

namespace {

// Accepts every line; replies beginning with "5" are rejections.
class LineSocket : public TmsMailBase {
 public:
  LineSocket() {
    SetWinsockLoaded(true);
    ServiceName = "smtp";
    OnError = [this](TagSocket&, std::string& msg) {
      errors.push_back(msg);
      msg = reword + msg;
    };
    OnClosing = [this](TagSocket&) { events.push_back("Closing"); };
    OnClosed = [this](TagSocket&) { events.push_back("Closed"); };
    OnCancel = [this](TagSocket&) { events.push_back("Cancel"); };
  }
  void CheckReply(const std::string& line) override {
    if (!line.empty() && line[0] == '5') RaiseText(line);
  }
  void Login() override { ConnectSocket(); }
  void Logout() override {}
  using TagSocket::RaiseText;

  std::vector<std::string> errors;  // as raised, before any rewording
  std::vector<std::string> events;
  std::string reword;  // put before each error's text by OnError
};

using SocketTest = NetTest;

TEST_F(SocketTest, DottedAddressConnectsWithoutLookupAndReadsLines) {
  ScriptedServer server([](Peer& p) {
    p.Send("one\r\ntwo\nthree\r\r\n");
    // A line in pieces, the last one with the start of the next line.
    for (const char* piece : {"fo", "u", "r\r", "\nfi"}) {
      p.Send(piece);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    p.Send("ve\r\n");
    p.Send(std::string(1000, 'x') + "\r\n");
    p.Send(std::string(4094, 'y') + "\r\n");
    p.Send(std::string(5000, 'z') + "\r\n");
    p.WaitClosed();
  });
  LineSocket s;
  std::vector<std::string> got;
  s.OnLineReceived = [&](TagSocket&, const std::string& l) { got.push_back(l); };
  s.Server = server.Address();
  s.Connect();
  EXPECT_EQ(s.Port(), server.port());
  EXPECT_EQ(s.ReadLine(), "one");
  EXPECT_EQ(s.ReadLine(), "two");
  EXPECT_EQ(s.ReadLine(), "three");
  EXPECT_EQ(s.ReadLine(), "four");
  EXPECT_EQ(s.ReadLine(), "five");
  EXPECT_EQ(s.ReadLine(), std::string(1000, 'x'));
  EXPECT_EQ(s.ReadLine(), std::string(4094, 'y'));
  EXPECT_EQ(s.HostAddress(), "");
  EXPECT_EQ(got.size(), 7u);
  EXPECT_TRUE(s.errors.empty());
  // A line longer than the buffer is an error, not an overrun.
  EXPECT_EQ(Raised<ESocketError>([&] { s.ReadLine(); }), "[10040] Message too long");
  s.Close();
}

TEST_F(SocketTest, PeerClosingBeforeLineFeedGivesEmptyLine) {
  ScriptedServer server([](Peer& p) {
    p.Send("220 cut off in the mid");
    p.Close();
  });
  LineSocket s;
  s.Server = server.Address();
  s.Connect();
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_TRUE(s.PeerClosed());
  EXPECT_TRUE(s.errors.empty());
  // A further read ends at once rather than waiting for the time-out.
  s.TimeOut = 30;
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_LT(t.elapsed(), 5000);
  s.Close();
}

// The error names the server and port dialled; OnError may reword it, but
// not a time-out.
TEST_F(SocketTest, RefusedConnectEndsAtOnceWithItsOwnError) {
  LineSocket s;
  s.reword = "reworded: ";
  s.TimeOut = 60;
  const std::string port = std::to_string(ClosedPort());
  s.Server = "127.0.0.1:" + port;
  QElapsedTimer t;
  t.start();
  const std::string error = "[10061] Connection refused (127.0.0.1 port " + port + ")";
  EXPECT_EQ(Raised<ESocketError>([&] { s.Connect(); }), "reworded: " + error);
  EXPECT_LT(t.elapsed(), 10000);
  EXPECT_EQ(s.errors, std::vector<std::string>{error});
  s.Close();
}

// A time-out of 0 waits as long as it takes; any other ends the wait, closes
// and raises.
TEST_F(SocketTest, TimeOutWhileReadingClosesAndRaises) {
  ScriptedServer server([](Peer& p) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    p.Send("late\r\n");
    p.WaitClosed();
  });
  LineSocket s;
  s.reword = "reworded: ";
  s.Server = server.Address();
  s.TimeOut = 0;
  s.Connect();
  EXPECT_EQ(s.ReadLine(), "late");
  s.TimeOut = 1;
  EXPECT_EQ(Raised<ETimedOutError>([&] { s.ReadLine(); }), "Operation timed out");
  EXPECT_EQ(s.errors, std::vector<std::string>{"Operation timed out"});
  EXPECT_EQ(s.events, (std::vector<std::string>{"Closing", "Closed"}));
  EXPECT_FALSE(s.Connected());
}

TEST_F(SocketTest, WithoutSocketOrServerNothingIsSent) {
  ScriptedServer server([](Peer& p) { p.WaitClosed(); });
  LineSocket s;
  EXPECT_THROW(s.ReadLine(), ESocketError);
  EXPECT_EQ(Raised<ESocketError>([&] { s.WriteLine("x"); }),
            "You have to connect to the server first");
  s.Server = "";
  EXPECT_EQ(Raised<ESocketError>([&] { s.Open(); }), "Server property is required");
  // A line break could smuggle a command: refused before connecting.
  s.Server = server.Address() + "\r\nQUIT";
  EXPECT_EQ(Raised<ESocketError>([&] { s.Open(); }),
            "Line breaks are not allowed in a server name or mail address");
  EXPECT_FALSE(s.Connected());
}

// Host and service look-ups through a layer whose resolvers the test holds.
class LookupTest : public NetTest {
 protected:
  void Use(std::function<void(TPosixWinsock&)> setup) { UseWinsock(std::move(setup)); }
};

TEST_F(LookupTest, UnknownHostReadsHostNotFound) {
  Use([](TPosixWinsock& l) {
    l.HostResolver = [](const std::string&, THostEnt&) { return ws::kHostNotFound; };
  });
  LineSocket s;
  s.Server = "no-such-host.invalid:25";
  EXPECT_EQ(Raised<ESocketError>([&] { s.Open(); }), "[11001] Host not found");
  EXPECT_EQ(s.errors, std::vector<std::string>{"[11001] Host not found"});
  EXPECT_FALSE(s.Connected());
}

// The system's resolver, then one the test holds.
TEST_F(LookupTest, NameLookupFillsHostAddress) {
  ScriptedServer server(
      [](Peer& p) {
        p.Send("hello\r\n");
        p.WaitClosed();
      },
      2);
  std::string asked;
  for (const std::string host : {"localhost", "mail.example"}) {
    if (host != "localhost") {
      Use([&asked](TPosixWinsock& l) {
        l.HostResolver = [&asked](const std::string& name, THostEnt& out) {
          asked = name;
          out.h_addr_list = {htonl(INADDR_LOOPBACK)};
          return 0;
        };
      });
    }
    LineSocket s;
    s.Server = host + ":" + std::to_string(server.port());
    s.Connect();
    EXPECT_EQ(s.HostAddress(), "127.0.0.1") << host;
    EXPECT_EQ(s.ReadLine(), "hello") << host;
    s.Close();
  }
  EXPECT_EQ(asked, "mail.example");
}

// A cancel or a time-out ends the wait for a slow resolver.
TEST_F(LookupTest, CancelOrTimeOutDuringHostLookup) {
  // The resolver answers when released, or after ten seconds.
  std::promise<void> release;
  Use([released = release.get_future().share()](TPosixWinsock& l) {
    l.HostResolver = [released](const std::string&, THostEnt& out) {
      released.wait_for(std::chrono::seconds(10));
      out.h_addr_list = {htonl(INADDR_LOOPBACK)};
      return 0;
    };
  });
  LineSocket s;
  s.Server = "slow.example:25";
  QTimer::singleShot(300, [&] { s.Cancel(); });
  EXPECT_EQ(Raised<ECanceledError>([&] { s.Open(); }), "Operation has been canceled");
  EXPECT_EQ(s.events, std::vector<std::string>{"Cancel"});
  EXPECT_EQ(s.errors, std::vector<std::string>{"Operation has been canceled"});
  s.Reset();
  s.TimeOut = 1;
  EXPECT_EQ(Raised<ETimedOutError>([&] { s.Open(); }), "Operation timed out");
  release.set_value();
}

TEST_F(LookupTest, PortFromServiceOrDefault) {
  ScriptedServer server(
      [](Peer& p) {
        p.Send("ready\r\n");
        p.WaitClosed();
      },
      2);
  const std::uint16_t port = server.port();
  Use([port](TPosixWinsock& l) {
    l.ServResolver = [port](const std::string& name, const std::string& proto, TServEnt& out) {
      if (name != "smtp" || proto != "tcp") return ws::kNoData;
      out.s_port = htons(port);
      return 0;
    };
  });
  LineSocket s;
  // A port of 0 asks the service.
  s.Server = "127.0.0.1:0";
  s.Connect();
  EXPECT_EQ(s.Port(), port);
  EXPECT_EQ(s.ReadLine(), "ready");
  s.Close();
  // An unknown service falls back to DefaultPort, and its failure does not
  // end the later waits.
  s.Reset();
  s.ServiceName = "no-such-service";
  s.DefaultPort = port;
  s.Server = "127.0.0.1:smtp";
  s.Connect();
  EXPECT_EQ(s.Port(), port);
  EXPECT_EQ(s.ReadLine(), "ready");
  s.Close();
  s.ServiceName = "";
  s.Server = "127.0.0.1";
  EXPECT_EQ(Raised<ESocketError>([&] { s.Open(); }), "Service name is required");
}

TEST_F(SocketTest, WriteStreamReportsProgressPerBlock) {
  auto run = [](std::size_t size) {
    std::string text(size, 'a');
    for (std::size_t i = 0; i < size; i += 100) text[i] = static_cast<char>('0' + i % 10);
    std::string received;
    ScriptedServer server([&received, size](Peer& p) {
      std::string all;
      while (all.size() < size) {
        auto line = p.ReadLine();
        if (!line) break;
        all += *line + "\n";
      }
      received = all;
    });
    LineSocket s;
    std::vector<int> progress;
    s.OnProgress = [&](TagSocket&, int p) { progress.push_back(p); };
    s.Server = server.Address();
    s.Connect();
    for (std::size_t i = 99; i < size; i += 100) text[i] = '\n';
    TMemoryStream stream(text);
    s.WriteStream(stream);
    s.Close();
    server.Join();
    // The peer records whole lines only.
    EXPECT_EQ(received, text.substr(0, text.rfind('\n') + 1));
    return progress;
  };
  EXPECT_EQ(run(5000), (std::vector<int>{41, 82, 100, 0}));
  EXPECT_EQ(run(4094), (std::vector<int>{50, 100, 100, 0}));
}

// A peer that reads late fills the connection: sending waits for room and
// goes on, the stream intact.
TEST_F(SocketTest, WriteStreamWaitsForASlowReader) {
  std::string text(16 << 20, 'x');
  for (std::size_t i = 0; i < text.size(); i += 4099) text[i] = static_cast<char>('a' + i % 26);
  std::string received;
  ScriptedServer server([&received](Peer& p) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    char buf[65536];
    for (ssize_t n; (n = ::recv(p.fd(), buf, sizeof buf, 0)) > 0;)
      received.append(buf, static_cast<std::size_t>(n));
  });
  LineSocket s;
  s.Server = server.Address();
  s.Connect();
  TMemoryStream stream(text);
  QElapsedTimer t;
  t.start();
  s.WriteStream(stream);
  EXPECT_GE(t.elapsed(), 400);  // it did wait for the reader
  s.Close();
  server.Join();
  EXPECT_EQ(received.size(), text.size());
  EXPECT_TRUE(received == text);
}

// A reset ends the wait at once, also with half a line already read.
TEST_F(SocketTest, ResetByPeerIsReported) {
  for (bool half_line : {false, true}) {
    ScriptedServer server([half_line](Peer& p) {
      if (half_line) {
        p.Send("220 half a li");
        ::usleep(300000);
      } else {
        p.ReadLine();
      }
      linger l{1, 0};  // close with a reset
      ::setsockopt(p.fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    });
    LineSocket s;
    s.Server = server.Address();
    s.TimeOut = 10;
    s.Connect();
    if (!half_line) {
      s.WriteLine("hello");
      server.Join();
    }
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(Raised<ESocketError>([&] { s.ReadLine(); }), "[10054] Connection reset by peer")
        << half_line;
    EXPECT_LT(t.elapsed(), 5000);
    s.Close();
  }
}

}  // namespace
