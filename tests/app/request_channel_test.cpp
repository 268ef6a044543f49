// The tray program's request channel against clients that misbehave: each is
// a real socket of this process talking to the real server.
#include <QTest>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/request_channel.h"
#include "tests/platform/temp_folder.h"

namespace {

// A blocking client connected to `path`; -1 when nobody listens.
int Connect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool Send(int fd, const std::string& bytes) {
  return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// The server closed its end: a read sees the end (or a reset) at once.
bool DroppedByServer(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) != 1) return false;
  char c;
  return ::recv(fd, &c, 1, MSG_DONTWAIT) <= 0;
}

double CpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

class RequestChannelTest : public QObject {
  Q_OBJECT

 private:
  TempFolder dir_;
  std::string Path() const { return dir_ / "channel.sock"; }
  std::vector<std::string> urls_;
  std::vector<TRequestServer::TReply> replies_;  // held: no answer closes a client

  std::unique_ptr<TRequestServer> Serve() {
    urls_.clear();
    replies_.clear();
    auto server = std::make_unique<TRequestServer>(
        Path(), [this](const std::string& url, TRequestServer::TReply reply) {
          urls_.push_back(url);
          replies_.push_back(std::move(reply));
        });
    return server;
  }

 private slots:
  void AClientThatSendsBeyondItsRequestIsDropped() {
    const auto server = Serve();
    QVERIFY(server->Listening());
    const int fd = Connect(Path());
    QVERIFY(fd >= 0);
    const timeval limit{5, 0};  // a server that neither reads nor drops ends the flood too
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    QVERIFY(Send(fd, "REQUEST 15\nhttp://host/a/b"));
    QTRY_COMPARE(urls_, std::vector<std::string>{"http://host/a/b"});
    // The request was taken; its client now sends on and on.
    std::atomic<std::size_t> sent{0};
    std::atomic<bool> ended{false};
    std::thread flood([&] {
      const std::string block(64 * 1024, 'x');
      // Up to 64 MiB, far beyond what the sockets' buffers hold.
      while (sent < (64u << 20) && Send(fd, block)) sent += block.size();
      ended = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(ended.load(), 20000);
    flood.join();
    ::close(fd);
    QVERIFY2(sent < (8u << 20), std::to_string(sent.load()).c_str());
    QCOMPARE(urls_.size(), std::size_t{1});
  }

  void AClientThatStallsIsDroppedAfterTheTimeOut() {
    const auto server = Serve();
    server->SetStallTimeout(300);
    const int silent = Connect(Path());
    const int halfway = Connect(Path());
    QVERIFY(Send(halfway, "REQUEST 15\nhttp://"));
    QTest::qWait(100);
    QVERIFY(!DroppedByServer(silent));
    QTRY_VERIFY_WITH_TIMEOUT(DroppedByServer(silent) && DroppedByServer(halfway), 3000);
    QVERIFY(urls_.empty());
    // One whose request came whole waits for its answer however long.
    const int whole = Connect(Path());
    QVERIFY(Send(whole, "REQUEST 8\nhttp://h"));
    QTRY_COMPARE(urls_.size(), std::size_t{1});
    QTest::qWait(600);
    QVERIFY(!DroppedByServer(whole));
    replies_.front()({kRequestSent, "Sent"});
    char answer[16] = {};
    QCOMPARE(::recv(whole, answer, sizeof answer - 1, 0), ssize_t{7});
    QCOMPARE(std::string(answer), std::string("0 Sent\n"));
    for (int fd : {silent, halfway, whole}) ::close(fd);
  }

  // Out of descriptors, a connection cannot be accepted and stays queued:
  // the server must wait for descriptors, not spin on the readable socket.
  void OutOfDescriptorsTheServerWaitsAndAcceptsLater() {
    const auto server = Serve();
    rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &old), 0);
    const int client = Connect(Path());
    QVERIFY(client >= 0);
    QVERIFY(Send(client, "REQUEST 8\nhttp://h"));
    rlimit low = old;
    low.rlim_cur = std::min<rlim_t>(old.rlim_cur, 256);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> held;
    for (int fd; (fd = ::dup(client)) >= 0;) held.push_back(fd);
    QCOMPARE(errno, EMFILE);

    const double before = CpuSeconds();
    QTest::qWait(1500);
    const double busy = CpuSeconds() - before;
    QVERIFY2(busy < 0.3, std::to_string(busy).c_str());
    QVERIFY(urls_.empty());

    for (int fd : held) ::close(fd);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &old), 0);
    QTRY_COMPARE_WITH_TIMEOUT(urls_, std::vector<std::string>{"http://h"}, 3000);
    ::close(client);
  }
};

QTEST_GUILESS_MAIN(RequestChannelTest)
#include "request_channel_test.moc"
