// The tray program's request channel out of descriptors, which only Linux's
// socket server meets (the hand-over itself is tested in both builds by
// request_handover_test.cpp).
#include <QTest>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
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
