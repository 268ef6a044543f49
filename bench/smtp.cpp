// SMTP delivery speed against msmtp, both talking to the same fast
// discarding sink on loopback, and the CPU our client spends while it waits
// on a silent server.
//   (a) 50 sequential deliveries of a request-sized message
//   (b) one 16 MiB message
//   (c) CPU seconds during a 10-second wait (no peer)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include <QCoreApplication>

#include "mail/message.h"
#include "mail/streams.h"
#include "net/smtp.h"
#include "platform/errors.h"

extern char** environ;

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int Listen(std::uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0)
    throw std::runtime_error("cannot listen");
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  port = ntohs(sa.sin_port);
  return fd;
}

void SendAll(int fd, const char* text) {
  std::size_t len = std::strlen(text), off = 0;
  while (off < len) {
    ssize_t n = ::send(fd, text + off, len - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<std::size_t>(n);
  }
}

// Answers every command at once and throws message data away.
class Sink {
 public:
  Sink() : listen_fd_(Listen(port_)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Sink() {
    stop_ = true;
    ::shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    ::close(listen_fd_);
  }
  std::uint16_t port() const { return port_; }
  long messages() const { return messages_; }

 private:
  void Run() {
    while (!stop_) {
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      Serve(fd);
      ::close(fd);
    }
  }

  void Serve(int fd) {
    SendAll(fd, "220 sink ready\r\n");
    std::string line;
    bool data = false;
    // Data state: 0 in a line, 1 after CR, 2 at a line start, 3 after a
    // leading ".", 4 after "." CR.
    int st = 0;
    char buf[1 << 16];
    for (;;) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      for (ssize_t i = 0; i < n; ++i) {
        char c = buf[i];
        if (data) {
          switch (st) {
            case 2: st = c == '.' ? 3 : c == '\r' ? 1 : 0; break;
            case 3: st = c == '\r' ? 4 : 0; break;
            case 4:
              if (c == '\n') {
                data = false;
                ++messages_;
                SendAll(fd, "250 2.0.0 discarded\r\n");
              }
              st = c == '\r' ? 1 : 0;
              break;
            case 1: st = c == '\n' ? 2 : c == '\r' ? 1 : 0; break;
            default: st = c == '\r' ? 1 : 0; break;
          }
          continue;
        }
        if (c != '\n') {
          line += c;
          continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string cmd = line.substr(0, 4);
        for (auto& ch : cmd) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        line.clear();
        if (cmd == "DATA") {
          data = true;
          st = 2;
          SendAll(fd, "354 go ahead\r\n");
        } else if (cmd == "QUIT") {
          SendAll(fd, "221 bye\r\n");
          return;
        } else if (cmd == "EHLO") {
          SendAll(fd, "250-sink\r\n250 8BITMIME\r\n");
        } else {
          SendAll(fd, "250 ok\r\n");
        }
      }
    }
  }

  std::uint16_t port_ = 0;
  int listen_fd_;
  std::atomic<bool> stop_{false};
  std::atomic<long> messages_{0};
  std::thread thread_;
};

void FillRequest(TmsMessage& m) {
  m.Sender().SetAddress("user@example.org");
  m.Recipients().AddAddress("www@pages.example", "");
  m.SetSubject("Request");
  m.Body() = {"SEND http://www.example.com/some/page.html"};
}

void FillLarge(TmsMessage& m) {
  FillRequest(m);
  m.Body().clear();
  const std::size_t target = 16u << 20;
  std::size_t total = 0;
  for (int i = 0; total < target; ++i) {
    std::string line = std::to_string(i) + " " + std::string(70, 'a' + i % 26);
    if (i % 50 == 0) line = "." + line;
    total += line.size() + 2;
    m.Body().push_back(std::move(line));
  }
}

std::string Encoded(TmsMessage& m) {
  TMemoryStream s;
  m.SaveToStream(s);
  return s.Data();
}

// Runs msmtp once with `file` as its standard input; returns its exit code.
int RunMsmtp(std::uint16_t port, const std::string& file) {
  int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in, 0);
  std::string port_arg = "--port=" + std::to_string(port);
  const char* argv[] = {"msmtp", "-C", "/dev/null", "--host=127.0.0.1", port_arg.c_str(),
                        "--auth=off", "--tls=off", "--domain=localhost",
                        "--from=user@example.org", "--", "www@pages.example", nullptr};
  pid_t pid;
  int rc = posix_spawnp(&pid, "msmtp", &fa, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(in);
  if (rc != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Row(const char* name, double ours, double peer) {
  std::printf("%s: ours %.3f s, msmtp %.3f s, ratio %.2f\n", name, ours, peer,
              peer > 0 ? ours / peer : 0.0);
  std::fflush(stdout);
}

std::string TempFileWith(const std::string& text) {
  char name[] = "/tmp/benchsmtp-XXXXXX";
  int fd = ::mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp");
  std::size_t off = 0;
  while (off < text.size()) {
    ssize_t n = ::write(fd, text.data() + off, text.size() - off);
    if (n <= 0) throw std::runtime_error("write");
    off += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return name;
}

// A socket that accepts every line, for the idle wait.
class IdleSocket : public TmsMailBase {
 public:
  void CheckReply(const std::string&) override {}
  void Login() override { ConnectSocket(); }
  void Logout() override {}
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Sink sink;
  const std::string server = "127.0.0.1:" + std::to_string(sink.port());

  TmsSMTP smtp;
  smtp.SetWinsockLoaded(true);
  smtp.Server = server;
  smtp.TimeOut = 60;

  // (a) 50 request-sized deliveries.
  {
    TmsMessage m;
    FillRequest(m);
    smtp.MailMessage = &m;
    smtp.Send();  // warm-up
    double t0 = Now();
    for (int i = 0; i < 50; ++i) {
      smtp.Connect();
      smtp.Send();
    }
    double ours = Now() - t0;
    std::string file = TempFileWith(Encoded(m));
    if (RunMsmtp(sink.port(), file) != 0) {
      std::fprintf(stderr, "msmtp failed\n");
      return 1;
    }
    t0 = Now();
    for (int i = 0; i < 50; ++i) RunMsmtp(sink.port(), file);
    double peer = Now() - t0;
    ::unlink(file.c_str());
    Row("50 request deliveries", ours, peer);
  }

  // (b) one 16 MiB message.
  {
    TmsMessage m;
    FillLarge(m);
    smtp.MailMessage = &m;
    double t0 = Now();
    smtp.Send();
    double ours = Now() - t0;
    std::string file = TempFileWith(Encoded(m));
    t0 = Now();
    int rc = RunMsmtp(sink.port(), file);
    double peer = Now() - t0;
    ::unlink(file.c_str());
    if (rc != 0) std::fprintf(stderr, "msmtp failed: %d\n", rc);
    Row("one 16 MiB message", ours, peer);
  }

  // (c) CPU while waiting 10 seconds on a server that says nothing.
  {
    std::uint16_t port = 0;
    int fd = Listen(port);
    IdleSocket s;
    s.Server = "127.0.0.1:" + std::to_string(port);
    s.TimeOut = 10;
    s.SetWinsockLoaded(true);
    s.Connect();
    double c0 = CpuSeconds();
    double t0 = Now();
    try {
      s.ReadLine();
    } catch (const ETimedOutError&) {
    }
    double cpu = CpuSeconds() - c0;
    std::printf("CPU during a %.1f s wait on a silent server: ours %.3f s\n", Now() - t0, cpu);
    ::close(fd);
  }
  std::printf("sink received %ld messages\n", sink.messages());
  return 0;
}
