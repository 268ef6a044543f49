// The socket layer on Windows' message loop: the notify window, the timer
// and waits, the descriptor's notices and the Winsock layer, against a
// loopback server run by the test on a thread of its own.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/event_loop.h"
#include "net/fd_socket.h"
#include "net/notify_window_win.h"
#include "net/socket.h"
#include "platform/errors.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs the loop until `done` holds or `ms` pass; a timer keeps the waits short.
bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  TLoopTimer guard([] {});
  guard.Start(50);
  while (!done() && Clock::now() < end) WaitForEvents();
  return done();
}

void RunFor(int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  WaitUntil([&] { return Clock::now() >= end; }, ms + 1000);
}

// Blocking Winsock on 127.0.0.1 at a free port: the thread accepts one
// connection and runs the script on it.
class LoopbackServer {
 public:
  using Script = std::function<void(SOCKET)>;
  explicit LoopbackServer(Script script) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof sa;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&sa), len);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this, script = std::move(script)] {
      const SOCKET peer = ::accept(listener_, nullptr, nullptr);
      if (peer == INVALID_SOCKET) return;
      script(peer);
      ::closesocket(peer);
    });
  }
  ~LoopbackServer() {
    ::closesocket(listener_);  // ends an accept still waiting
    thread_.join();
  }
  std::uint16_t port() const { return port_; }

  static void Send(SOCKET s, const std::string& text) {
    ::send(s, text.data(), static_cast<int>(text.size()), 0);
  }
  // The next line without CR LF; "" when the client closed.
  static std::string ReadLine(SOCKET s) {
    std::string line;
    char c;
    while (::recv(s, &c, 1, 0) == 1 && c != '\n') line += c;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

 private:
  SOCKET listener_;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

class WinLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    Winsock().Acquire();
    ASSERT_EQ(Winsock().WSAStartup(0x0101, &wsa_), 0);
  }
  void TearDown() override {
    Winsock().WSACleanup();
    Winsock().Release();
    ::WSACleanup();
  }

  // A connected descriptor to the server's port.
  std::unique_ptr<TFdSocket> Dial(std::uint16_t port) {
    const TSocket s = Winsock().socket(ws::kAfInet, ws::kSockStream, 0);
    EXPECT_NE(s, ws::kInvalidSocket);
    auto fd = std::make_unique<TFdSocket>(s);
    bool writable = false;
    fd->OnWritable = [&] { writable = true; };
    const int rc = fd->Connect(TIpAddress::FromV4(htonl(INADDR_LOOPBACK)), port);
    if (rc == ws::kEWouldBlock) {
      fd->WatchWrite();
      EXPECT_TRUE(WaitUntil([&] { return writable; }));
    }
    fd->OnWritable = nullptr;
    return fd;
  }

  TWSAData wsa_;
};

TEST_F(WinLoopTest, NotifyWindowRunsPostsOnItsThreadAndDropsThoseOfAGoneWindow) {
  std::vector<std::uint32_t> delivered;
  auto window =
      std::make_unique<TNotifyWindow>([&](unsigned msg, std::uintptr_t w, std::uint32_t l) {
        delivered = {msg, unsigned(w), l};
      });
  ::PostMessageW(NotifyWindowHandle(*window), WM_USER + 5, 7, 9);
  DWORD ran_on = 0;
  std::thread([&] {
    EXPECT_TRUE(TNotifyWindow::Post(window.get(), [&] { ran_on = ::GetCurrentThreadId(); }));
  }).join();
  ASSERT_TRUE(WaitUntil([&] { return ran_on != 0; }));
  EXPECT_EQ(ran_on, ::GetCurrentThreadId());
  EXPECT_EQ(delivered, (std::vector<std::uint32_t>{WM_USER + 5, 7, 9}));

  // A call still queued when its window goes never runs, and is freed.
  auto token = std::make_shared<int>(0);
  EXPECT_TRUE(TNotifyWindow::Post(window.get(), [token] { ++*token; }));
  EXPECT_EQ(token.use_count(), 2);
  const TNotifyWindow* gone = window.get();
  window.reset();
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_FALSE(TNotifyWindow::Post(gone, [token] { ++*token; }));
  PumpEvents();
  EXPECT_EQ(*token, 0);
}

TEST_F(WinLoopTest, TimerTicksUntilStoppedAndAQuitStaysForTheOuterLoop) {
  int ticks = 0;
  TLoopTimer timer([&] { ++ticks; });
  ::PostQuitMessage(3);
  timer.Start(20);
  // The wait goes on past the quit; the quit is the outer loop's.
  ASSERT_TRUE(WaitUntil([&] { return ticks >= 3; }));
  timer.Stop();
  const int stopped_at = ticks;
  RunFor(150);
  EXPECT_EQ(ticks, stopped_at);
  MSG m;
  ASSERT_TRUE(::PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(m.wParam, 3u);
}

// Each Watch gives one notice, and a Watch while data waits gives it at once
// even though Winsock told of that data before.
TEST_F(WinLoopTest, DescriptorConnectsSendsReadsAndSeesTheEnd) {
  LoopbackServer server([](SOCKET s) {
    if (LoopbackServer::ReadLine(s) != "HELO me") return;
    LoopbackServer::Send(s, "250 one\r\n");
    LoopbackServer::Send(s, "250 two\r\n");
    LoopbackServer::ReadLine(s);  // until the client says QUIT
  });
  auto fd = Dial(server.port());
  EXPECT_EQ(fd->ConnectResult(), 0);
  ASSERT_TRUE(fd->LocalAddress());
  EXPECT_TRUE(fd->LocalAddress()->IsLoopback());
  int error = 0;
  ASSERT_EQ(fd->Send("HELO me\r\n", 9, error), 9);

  int notices = 0;
  fd->OnReadable = [&] { ++notices; };
  fd->WatchRead();
  ASSERT_TRUE(WaitUntil([&] { return notices == 1; }));
  RunFor(200);
  EXPECT_EQ(notices, 1);  // asleep until the next Watch
  fd->WatchRead();
  ASSERT_TRUE(WaitUntil([&] { return notices == 2; }));

  std::string got;
  char buf[64];
  while (got.size() < 18) {
    const int n = fd->Recv(buf, sizeof buf, error);
    if (n > 0) {
      got.append(buf, n);
    } else {
      ASSERT_EQ(error, ws::kEWouldBlock);
      fd->WatchRead();
      ASSERT_TRUE(WaitUntil([&, before = notices] { return notices > before; }));
    }
  }
  EXPECT_EQ(got, "250 one\r\n250 two\r\n");
  EXPECT_EQ(fd->Recv(buf, sizeof buf, error), ws::kSocketError);
  EXPECT_EQ(error, ws::kEWouldBlock);

  ASSERT_EQ(fd->Send("QUIT\r\n", 6, error), 6);
  const int before_end = notices;
  fd->WatchRead();
  ASSERT_TRUE(WaitUntil([&] { return notices > before_end; }));
  EXPECT_EQ(fd->Recv(buf, sizeof buf, error), 0);
  EXPECT_EQ(fd->Bytes().Sent, 15u);
  EXPECT_EQ(fd->Bytes().Received, 18u);
}

TEST_F(WinLoopTest, RefusedConnectIsReportedWithWinsocksNumber) {
  std::uint16_t closed_port = 0;
  {
    LoopbackServer gone([](SOCKET) {});
    closed_port = gone.port();
  }
  const TSocket s = Winsock().socket(ws::kAfInet, ws::kSockStream, 0);
  TFdSocket fd(s);
  bool over = false;
  fd.OnWritable = [&] { over = true; };
  const int rc = fd.Connect(TIpAddress::FromV4(htonl(INADDR_LOOPBACK)), closed_port);
  if (rc == ws::kEWouldBlock) {
    fd.WatchWrite();
    ASSERT_TRUE(WaitUntil([&] { return over; }));
    EXPECT_EQ(fd.ConnectResult(), ws::kEConnRefused);
  } else {
    EXPECT_EQ(rc, ws::kEConnRefused);
  }
}

TEST_F(WinLoopTest, LookUpOfLocalhostCompletesAndACanceledOneNever) {
  std::vector<std::uintptr_t> done;
  std::uint32_t reply = 0xFFFFFFFF;
  TNotifyWindow window([&](unsigned msg, std::uintptr_t handle, std::uint32_t l) {
    if (msg == WM_USER + 148) {
      done.push_back(handle);
      reply = l;
    }
  });
  THostEnt canceled_host, host;
  const TAsyncHandle canceled =
      Winsock().WSAAsyncGetHostByName(&window, WM_USER + 148, "localhost", &canceled_host);
  ASSERT_NE(canceled, 0u);
  EXPECT_EQ(Winsock().WSACancelAsyncRequest(canceled), 0);
  const TAsyncHandle handle =
      Winsock().WSAAsyncGetHostByName(&window, WM_USER + 148, "localhost", &host);
  ASSERT_NE(handle, 0u);
  ASSERT_TRUE(WaitUntil([&] { return !done.empty(); }));
  RunFor(300);  // the canceled one's worker is long done by now
  EXPECT_EQ(done, std::vector<std::uintptr_t>{handle});
  EXPECT_EQ(TagWinsock::WSAGetAsyncError(reply), 0);
  bool loopback = false;
  for (const TIpAddress& a : DialOrder(host)) loopback = loopback || a.IsLoopback();
  EXPECT_TRUE(loopback) << "localhost gave " << DialOrder(host).size() << " addresses";
  EXPECT_TRUE(canceled_host.h_addr_list.empty() && canceled_host.h_addr6_list.empty());
}

class LineSocket : public TmsMailBase {
 public:
  void CheckReply(const std::string&) override {}
  void Login() override { ConnectSocket(); }
  void Logout() override {}
};

// The whole socket: a look-up, the connect race, lines both ways, then a
// silent server's time-out and a cancel from inside the loop.
TEST_F(WinLoopTest, SocketTalksThenTimesOutThenIsCanceled) {
  LoopbackServer server([](SOCKET s) {
    LoopbackServer::Send(s, "220 hello\r\n");
    if (LoopbackServer::ReadLine(s) == "NOOP") LoopbackServer::Send(s, "250 fine\r\n");
    LoopbackServer::ReadLine(s);  // until the client closes
  });
  LineSocket sock;
  sock.SetWinsockLoaded(true);
  sock.Server = "localhost:" + std::to_string(server.port());
  sock.TimeOut = 1;
  sock.Connect();
  EXPECT_EQ(sock.ReadLine(), "220 hello");
  sock.WriteLine("NOOP");
  EXPECT_EQ(sock.ReadLine(), "250 fine");
  EXPECT_TRUE(sock.PeerAddress().IsLoopback());

  const auto start = Clock::now();
  EXPECT_THROW(sock.ReadLine(), ETimedOutError);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(sock.Connected());

  sock.SetWinsockLoaded(false);

  LoopbackServer silent([](SOCKET s) { LoopbackServer::ReadLine(s); });
  LineSocket waiting;
  waiting.SetWinsockLoaded(true);
  waiting.Server = "127.0.0.1:" + std::to_string(silent.port());
  waiting.Connect();
  TLoopTimer cancel([&] { waiting.Cancel(); });
  cancel.Start(200);
  EXPECT_THROW(waiting.ReadLine(), ECanceledError);
  cancel.Stop();
  EXPECT_FALSE(waiting.Connected());
  waiting.SetWinsockLoaded(false);
}

}  // namespace
