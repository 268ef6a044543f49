// SMTP delivery speed against msmtp, both talking to the same fast
// discarding sink on loopback, and the CPU our client spends while it waits
// on a silent server.
//   (a) 50 sequential request deliveries, one process each: `tolvane
//       --request` against msmtp
//   (b) one 16 MiB message
//   (c) CPU seconds during a 10-second wait (no peer)
//   (d) 20 sequential deliveries over STARTTLS with AUTH PLAIN, one
//       process each
//   (e) one 16 MiB message over TLS
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>

#include <openssl/ssl.h>

#include "mail/message.h"
#include "mail/streams.h"
#include "net/smtp.h"
#include "platform/errors.h"

extern char** environ;

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
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

// One connection of the sink, plain or inside TLS.
struct Conn {
  int fd;
  SSL* ssl = nullptr;
  ~Conn() { SSL_free(ssl); }
  bool Accept(SSL_CTX* ctx) {
    ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    return SSL_accept(ssl) == 1;
  }
  ssize_t Read(char* buf, std::size_t n) {
    return ssl ? SSL_read(ssl, buf, static_cast<int>(n)) : ::recv(fd, buf, n, 0);
  }
  void Write(const char* text) {
    if (ssl)
      SSL_write(ssl, text, static_cast<int>(std::strlen(text)));
    else
      SendAll(fd, text);
  }
};

enum class SinkMode { Plain, StartTls, Tls };

// Answers every command at once and throws message data away.
class Sink {
 public:
  explicit Sink(SinkMode mode = SinkMode::Plain, const std::string& certs = "")
      : mode_(mode), listen_fd_(Listen(port_)) {
    if (mode_ != SinkMode::Plain) {
      ctx_ = SSL_CTX_new(TLS_server_method());
      SSL_CTX_use_certificate_chain_file(ctx_, (certs + "/server.pem").c_str());
      SSL_CTX_use_PrivateKey_file(ctx_, (certs + "/server.key").c_str(), SSL_FILETYPE_PEM);
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~Sink() {
    stop_ = true;
    ::shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    ::close(listen_fd_);
    SSL_CTX_free(ctx_);
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
    Conn conn{fd};
    if (mode_ == SinkMode::Tls && !conn.Accept(ctx_)) return;
    conn.Write("220 sink ready\r\n");
    std::string line;
    bool data = false;
    // Data state: 0 in a line, 1 after CR, 2 at a line start, 3 after a
    // leading ".", 4 after "." CR.
    int st = 0;
    char buf[1 << 16];
    for (;;) {
      ssize_t n = conn.Read(buf, sizeof buf);
      if (n <= 0) return;
      for (ssize_t i = 0; i < n; ++i) {
        char c = buf[i];
        if (data) {
          switch (st) {
            case 2:
              st = c == '.' ? 3 : c == '\r' ? 1 : 0;
              break;
            case 3:
              st = c == '\r' ? 4 : 0;
              break;
            case 4:
              if (c == '\n') {
                data = false;
                ++messages_;
                conn.Write("250 2.0.0 discarded\r\n");
              }
              st = c == '\r' ? 1 : 0;
              break;
            case 1:
              st = c == '\n' ? 2 : c == '\r' ? 1 : 0;
              break;
            default:
              st = c == '\r' ? 1 : 0;
              break;
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
          conn.Write("354 go ahead\r\n");
        } else if (cmd == "QUIT") {
          conn.Write("221 bye\r\n");
          return;
        } else if (cmd == "EHLO") {
          conn.Write(mode_ == SinkMode::StartTls && !conn.ssl
                         ? "250-sink\r\n250-STARTTLS\r\n250 8BITMIME\r\n"
                         : "250-sink\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n");
        } else if (cmd == "STAR") {
          conn.Write("220 go ahead\r\n");
          if (!conn.Accept(ctx_)) return;
          break;  // nothing may follow STARTTLS in the same read
        } else if (cmd == "AUTH") {
          conn.Write("235 2.7.0 accepted\r\n");
        } else {
          conn.Write("250 ok\r\n");
        }
      }
    }
  }

  SinkMode mode_;
  SSL_CTX* ctx_ = nullptr;
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

// Runs a program with `file` (when given) as its standard input and the
// extra environment; returns its exit code.
int Run(const std::vector<std::string>& args, const std::string& file = "",
        const std::vector<std::string>& env_extra = {}) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  int in = ::open(file.empty() ? "/dev/null" : file.c_str(), O_RDONLY | O_CLOEXEC);
  posix_spawn_file_actions_adddup2(&fa, in, 0);
  int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  posix_spawn_file_actions_adddup2(&fa, null, 1);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_text = env_extra;
  for (char** e = environ; *e; ++e) env_text.push_back(*e);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  ::close(in);
  ::close(null);
  if (rc != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// msmtp sending `file` to the sink; `extra` adds its TLS and AUTH options.
int RunMsmtp(std::uint16_t port, const std::string& file,
             const std::vector<std::string>& extra = {"--auth=off", "--tls=off"}) {
  std::vector<std::string> args = {"msmtp",
                                   "-C",
                                   "/dev/null",
                                   "--host=127.0.0.1",
                                   "--port=" + std::to_string(port),
                                   "--domain=localhost",
                                   "--from=user@example.org"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.insert(args.end(), {"--", "www@pages.example"});
  return Run(args, file);
}

// Our client for the loopback TLS sink, trusting the benchmark's own CA.
void Secure(TmsSMTP& smtp, TmsMessage& m, int port, TSmtpSecurity security,
            const std::string& certs) {
  smtp.SetWinsockLoaded(true);
  smtp.Server = "127.0.0.1:" + std::to_string(port);
  smtp.Security = security;
  smtp.CAFile = certs + "/ca.pem";
  smtp.MailMessage = &m;
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

// A private program folder and settings for `tolvane --request`, sending
// to the sink; `servers` adds lines to the settings' server section.
class RequestCommand {
 public:
  explicit RequestCommand(std::uint16_t port, const std::string& servers = "") {
    namespace fs = std::filesystem;
    char name[] = "/tmp/benchreq-XXXXXX";
    if (!::mkdtemp(name)) throw std::runtime_error("mkdtemp");
    root_ = name;
    const fs::path bin = TOLVANE_BIN_DIR;
    fs::create_directories(root_ + "/program");
    for (const auto& e : fs::directory_iterator(bin)) {
      const std::string n = e.path().filename();
      if (n == "SMTP.LOG" || n == "History.Dat" || n == "DebugLog.Txt" || n == "wrap") continue;
      fs::copy(e.path(), root_ + "/program/" + n, fs::copy_options::recursive);
    }
    fs::create_directories(root_ + "/config/tolvane");
    fs::create_directories(root_ + "/run");
    const std::string ini =
        "[General]\r\nEmail=user@example.org\r\nConfirm=2\r\nEnabled=0\r\n"
        "CheckHistory=0\r\nTipEnabled=0\r\n[Servers]\r\nSMTP=127.0.0.1:" +
        std::to_string(port) + "\r\n" + servers;
    std::FILE* f = std::fopen((root_ + "/config/tolvane/TOLVANE.INI").c_str(), "wb");
    std::fwrite(ini.data(), 1, ini.size(), f);
    std::fclose(f);
    ::chmod((root_ + "/run").c_str(), 0700);
  }
  ~RequestCommand() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  int Send(const std::string& url) {
    return Run({root_ + "/program/tolvane", "--request", url}, "",
               {"XDG_CONFIG_HOME=" + root_ + "/config", "XDG_RUNTIME_DIR=" + root_ + "/run",
                "XDG_STATE_HOME=" + root_ + "/state", "HOME=" + root_});
  }

 private:
  std::string root_;
};

// The test certificates (a CA and a server certificate for 127.0.0.1).
std::string MakeCertificates() {
  char name[] = "/tmp/benchcerts-XXXXXX";
  if (!::mkdtemp(name)) throw std::runtime_error("mkdtemp");
  const std::string cmd =
      std::string("sh '") + TOLVANE_SOURCE_DIR + "/tests/net/make_certs.sh' '" + name + "'";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("openssl failed");
  return name;
}

// Times `runs` calls of `send`; the first, unmeasured, must succeed.
template <class F>
double Timed(int runs, F send) {
  if (!send(-1)) throw std::runtime_error("the warm-up delivery failed");
  double t0 = Now();
  for (int i = 0; i < runs; ++i)
    if (!send(i)) throw std::runtime_error("a delivery failed");
  return Now() - t0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  Sink sink;
  const std::string server = "127.0.0.1:" + std::to_string(sink.port());
  const std::string certs = MakeCertificates();

  TmsSMTP smtp;
  smtp.SetWinsockLoaded(true);
  smtp.Server = server;
  smtp.TimeOut = 60;

  // (a) 50 request deliveries, a process each.
  {
    TmsMessage m;
    FillRequest(m);
    RequestCommand command(sink.port());
    double ours = Timed(50, [&](int i) {
      return command.Send("http://bench.test/page-" + std::to_string(i) + ".html") == 0;
    });
    std::string file = TempFileWith(Encoded(m));
    double peer = Timed(50, [&](int) { return RunMsmtp(sink.port(), file) == 0; });
    ::unlink(file.c_str());
    Row("(a) 50 request deliveries, a process each", ours, peer);
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
    Row("(b) one 16 MiB message", ours, peer);
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
  // (d) 20 deliveries over STARTTLS with AUTH PLAIN, a process each.
  const std::string ca = "--tls-trust-file=" + certs + "/ca.pem";
  {
    Sink tls_sink(SinkMode::StartTls, certs);
    RequestCommand command(tls_sink.port(),
                           "SMTPSecurity=starttls\r\nSMTPUser=bench\r\nSMTPAuth=PLAIN\r\n"
                           "SMTPCAFile=" + certs + "/ca.pem\r\nSMTPPasswordCommand=echo secret\r\n");
    double ours = Timed(20, [&](int i) {
      return command.Send("http://bench.test/secure-" + std::to_string(i) + ".html") == 0;
    });
    TmsMessage m;
    FillRequest(m);
    std::string file = TempFileWith(Encoded(m));
    const std::vector<std::string> opts = {
        "--tls=on",     "--tls-starttls=on", ca,
        "--auth=plain", "--user=bench",      "--passwordeval=echo secret"};
    double peer = Timed(20, [&](int) { return RunMsmtp(tls_sink.port(), file, opts) == 0; });
    ::unlink(file.c_str());
    Row("(d) 20 STARTTLS + AUTH PLAIN deliveries, a process each", ours, peer);
  }

  // (e) one 16 MiB message over TLS.
  {
    Sink tls_sink(SinkMode::Tls, certs);
    TmsMessage m;
    FillLarge(m);
    TmsSMTP secure;
    Secure(secure, m, tls_sink.port(), TSmtpSecurity::Tls, certs);
    double t0 = Now();
    secure.Send();
    double ours = Now() - t0;
    std::string file = TempFileWith(Encoded(m));
    t0 = Now();
    int rc = RunMsmtp(tls_sink.port(), file, {"--tls=on", "--tls-starttls=off", ca, "--auth=off"});
    double peer = Now() - t0;
    ::unlink(file.c_str());
    if (rc != 0) std::fprintf(stderr, "msmtp failed: %d\n", rc);
    Row("(e) one 16 MiB message over TLS", ours, peer);
  }
  std::filesystem::remove_all(certs);
  std::printf("sink received %ld messages\n", sink.messages());
  return 0;
}
