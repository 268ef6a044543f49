#include "net_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <QCoreApplication>
#include <QElapsedTimer>

extern char** environ;

void EnsureApp() {
  static int argc = 1;
  static char name[] = "net_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
}

void SpinFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// ---------------------------------------------------------------------------

void Peer::Send(const std::string& text) {
  std::size_t off = 0;
  while (off < text.size()) {
    ssize_t n = ::send(fd_, text.data() + off, text.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<std::size_t>(n);
  }
}

bool Peer::Fill() {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, 20000) <= 0) return false;
  char chunk[65536];
  ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
  if (n <= 0) return false;
  buf_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::optional<std::string> Peer::ReadLine() {
  for (;;) {
    auto lf = buf_.find('\n');
    if (lf != std::string::npos) {
      std::string line = buf_.substr(0, lf);
      buf_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (!Fill()) return std::nullopt;
  }
}

std::optional<std::string> Peer::ReadData() {
  std::size_t from = 0;
  for (;;) {
    std::string probe = "\r\n" + buf_;
    auto end = probe.find("\r\n.\r\n", from);
    if (end != std::string::npos) {
      std::string data = probe.substr(2, end);  // text up to and including its last CR LF
      buf_.erase(0, end + 3);
      return data;
    }
    from = probe.size() > 4 ? probe.size() - 4 : 0;
    if (!Fill()) return std::nullopt;
  }
}

void Peer::WaitClosed() {
  while (Fill()) buf_.clear();
}

void Peer::Close() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

namespace {

// A socket bound to a free loopback port, and that port.
int BindLoopback(std::uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  port = ntohs(sa.sin_port);
  return fd;
}

}  // namespace

ScriptedServer::ScriptedServer(Script script, int connections) {
  listen_fd_ = BindLoopback(port_);
  ::listen(listen_fd_, 8);
  thread_ = std::thread([this, script = std::move(script), connections] {
    for (int i = 0; i < connections; ++i) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 30000) <= 0) return;
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      current_fd_ = fd;
      Peer peer(fd);
      script(peer);
      current_fd_ = -1;
      ::close(fd);
    }
  });
}

void ScriptedServer::Join() {
  if (thread_.joinable()) thread_.join();
}

ScriptedServer::~ScriptedServer() {
  // Unblock a script still waiting on its client.
  if (thread_.joinable()) {
    int fd = current_fd_;
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    ::shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
  }
  ::close(listen_fd_);
}

void ScriptedServer::Record(const std::string& line) {
  std::lock_guard lock(m_);
  lines_.push_back(line);
}

std::vector<std::string> ScriptedServer::Lines() {
  std::lock_guard lock(m_);
  return lines_;
}

void RunSmtp(Peer& peer, ScriptedServer& server, const std::string& greeting, SmtpAnswer answer) {
  peer.Send(greeting);
  for (;;) {
    auto line = peer.ReadLine();
    if (!line) return;
    server.Record(*line);
    std::string reply;
    std::optional<std::string> custom = answer ? answer(*line) : std::nullopt;
    if (custom) {
      reply = *custom;
    } else if (line->rfind("HELO", 0) == 0) {
      reply = "250 test.example\r\n";
    } else if (line->rfind("MAIL FROM:", 0) == 0 || line->rfind("RCPT TO:", 0) == 0) {
      reply = "250 OK\r\n";
    } else if (*line == "DATA") {
      peer.Send("354 End data with <CR><LF>.<CR><LF>\r\n");
      auto data = peer.ReadData();
      if (!data) return;
      server.Record("DATA:" + *data);
      std::optional<std::string> after = answer ? answer(".") : std::nullopt;
      reply = after ? *after : "250 Queued\r\n";
    } else if (*line == "QUIT") {
      peer.Send("221 Bye\r\n");
      return;
    } else {
      reply = "500 Unknown command\r\n";
    }
    if (reply.empty()) return;
    peer.Send(reply);
  }
}

// ---------------------------------------------------------------------------

const TempFolder& TestCertificates() {
  static TempFolder dir;
  static bool made = [] {
    const std::string cmd =
        "sh " + Quote(TOLVANE_SOURCE_DIR "/tests/net/make_certs.sh") + " " + Quote(dir.path());
    if (RunCommand(cmd) != 0) throw std::runtime_error("openssl failed: " + cmd);
    return true;
  }();
  (void)made;
  return dir;
}

RealSmtpServer::RealSmtpServer(const std::vector<std::string>& options) {
  int out[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  std::string script = std::string(TOLVANE_SOURCE_DIR) + "/tests/net/smtp_server.py";
  std::string python = "/usr/bin/python3";
  std::string dir = dir_.path();
  std::vector<std::string> args = {python, script, dir};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawn(&pid, python.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(out[1]);
  ::close(in[0]);
  if (rc != 0) {
    ::close(out[0]);
    ::close(in[1]);
    throw std::runtime_error("cannot start python3");
  }
  pid_ = pid;
  stdin_fd_ = in[1];
  for (std::size_t i = 0; i + 1 < options.size(); ++i)
    if (options[i] == "--host") host_ = options[i + 1];
  std::string text;
  pollfd p{out[0], POLLIN, 0};
  while (text.find('\n') == std::string::npos && ::poll(&p, 1, 30000) > 0) {
    char c[64];
    ssize_t n = ::read(out[0], c, sizeof c);
    if (n <= 0) break;
    text.append(c, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  port_ = static_cast<std::uint16_t>(std::atoi(text.c_str()));
  if (port_ == 0) throw std::runtime_error("aiosmtpd did not start: " + text);
}

RealSmtpServer::~RealSmtpServer() {
  if (stdin_fd_ >= 0) ::close(stdin_fd_);
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) return;
      ::usleep(50000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
  }
}

void UseWinsock(std::function<void(TPosixWinsock&)> setup) {
  Winsock().SetLoader([setup = std::move(setup)] {
    auto layer = std::make_unique<TPosixWinsock>();
    setup(*layer);
    return layer;
  });
}

void ResolveEveryNameToLoopback(bool ipv6) {
  UseWinsock([ipv6](TPosixWinsock& l) {
    l.HostResolver = [ipv6](const std::string&, THostEnt& out) {
      out.h_addr_list = {htonl(INADDR_LOOPBACK)};
      if (ipv6) out.h_addr6_list = {TIn6Addr{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}};
      return 0;
    };
  });
}

bool HaveIpv6Loopback() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  sa.sin6_addr = in6addr_loopback;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  ::close(fd);
  return bound;
}

std::uint16_t ClosedPort() {
  std::uint16_t port = 0;
  ::close(BindLoopback(port));
  return port;
}

std::string RealSmtpServer::Address() const {
  const std::string host = host_.find(':') == std::string::npos ? host_ : "[" + host_ + "]";
  return host + ":" + std::to_string(port_);
}

std::vector<RealSmtpServer::Received> RealSmtpServer::Messages() {
  std::vector<Received> result;
  for (int n = 1;; ++n) {
    std::string base = dir_ / ("msg-" + std::to_string(n));
    if (!std::filesystem::exists(base + ".done")) break;
    Received r;
    std::istringstream env(GetFile(base + ".done"));
    std::getline(env, r.helo);
    std::getline(env, r.mail_from);
    for (std::string line; std::getline(env, line);) r.rcpt_tos.push_back(line);
    r.data = GetFile(base + ".data");
    result.push_back(std::move(r));
  }
  return result;
}

// ---------------------------------------------------------------------------

void RequestMessage(TmsMessage& m) {
  m.Sender().SetAddress("user@example.org");
  m.Recipients().AddAddress("www@pages.example", "");
  m.SetSubject("Request");
  m.Body() = {"SEND http://www.example.com/", ".", ".hidden line", "..two dots", "end."};
}

SmtpClient::SmtpClient(const std::string& server, int timeout) {
  smtp.SetWinsockLoaded(true);
  smtp.Server = server;
  smtp.TimeOut = timeout;
  smtp.MailMessage = &message;
  auto note = [this](const std::string& event) { log += (log.empty() ? "" : "|") + event; };
  auto on = [note](const char* name) { return [note, name](TagSocket&) { note(name); }; };
  smtp.OnOpen = on("Open");
  smtp.OnPrepare = on("Prepare");
  smtp.OnMailSent = on("MailSent");
  smtp.OnClosing = on("Closing");
  smtp.OnClosed = on("Closed");
  smtp.OnCancel = on("Cancel");
  smtp.OnSending = [this, note](TagSocket&) {
    note("Sending");
    sent_text = smtp.MessageStream->ReadAll();
  };
  smtp.OnProgress = [note](TagSocket&, int p) { note("Progress " + std::to_string(p)); };
  smtp.OnError = [note](TagSocket&, std::string& msg) { note("Error " + msg); };
}

void NetTest::SetUp() {
  EnsureApp();
  Winsock().SetLoader(nullptr);
}

void NetTest::TearDown() {
  Winsock().SetLoader(nullptr);
  Winsock().Unload();
}
