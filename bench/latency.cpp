// Requests over a slow link against msmtp: a relay on loopback holds each
// direction's data for 300 ms (a 600 ms round trip, as over a geostationary
// satellite) in front of aiosmtpd with STARTTLS, AUTH PLAIN and PIPELINING.
// Both clients use STARTTLS and AUTH PLAIN. Rows, each ours beside msmtp's:
//   (f) one request: seconds, and bytes that crossed the relay
//   (g) five requests: ours as five messages over one connection, msmtp as
//       five runs
//   (h) five requests, ours as five connections in one run (each after the
//       first resumes the TLS session), msmtp as five runs
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "mail/message.h"
#include "mail/streams.h"
#include "net/smtp.h"
#include "tests/net/delay_relay.h"

extern char** environ;

namespace {

constexpr int kDelayMs = 300;
constexpr int kRequests = 5;
const std::string kUser = "bench";
const std::string kSecret = "secret";

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Spawns `args` with stdin from `in` (-1: /dev/null) and stdout to `out`
// (-1: /dev/null); returns the process id.
pid_t Spawn(const std::vector<std::string>& args, int in = -1, int out = -1) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  const int null_in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int null_out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  posix_spawn_file_actions_adddup2(&fa, in >= 0 ? in : null_in, 0);
  posix_spawn_file_actions_adddup2(&fa, out >= 0 ? out : null_out, 1);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(null_in);
  ::close(null_out);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string MakeTemp(const char* pattern, bool folder) {
  std::string name = std::string("/tmp/") + pattern + "-XXXXXX";
  if (folder ? !::mkdtemp(name.data()) : ::mkstemp(name.data()) < 0)
    throw std::runtime_error("cannot make " + name);
  return name;
}

// aiosmtpd from the tests' server script, on a free loopback port.
class Server {
 public:
  explicit Server(const std::string& certs) : out_(MakeTemp("benchlat", true)) {
    int out[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = Spawn({"/usr/bin/python3", std::string(TOLVANE_SOURCE_DIR) + "/tests/net/smtp_server.py",
                  out_, "--starttls", "--cert", certs + "/server.pem", "--key",
                  certs + "/server.key", "--auth", kUser + ":" + kSecret, "--pipelining"},
                 in[0], out[1]);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    std::string text;
    pollfd p{out[0], POLLIN, 0};
    while (text.find('\n') == std::string::npos && ::poll(&p, 1, 30000) > 0) {
      char c[64];
      const ssize_t n = ::read(out[0], c, sizeof c);
      if (n <= 0) break;
      text.append(c, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    port_ = static_cast<std::uint16_t>(std::atoi(text.c_str()));
    if (port_ == 0) throw std::runtime_error("aiosmtpd did not start: " + text);
  }
  ~Server() {
    ::close(stdin_);  // the script ends when its input does
    Wait(pid_);
    std::filesystem::remove_all(out_);
  }
  std::uint16_t port() const { return port_; }

 private:
  std::string out_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  std::uint16_t port_ = 0;
};

std::string MakeCertificates() {
  const std::string dir = MakeTemp("benchcerts", true);
  const std::string cmd =
      std::string("sh '") + TOLVANE_SOURCE_DIR + "/tests/net/make_certs.sh' '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("openssl failed");
  return dir;
}

void FillRequest(TmsMessage& m, int n) {
  m.Sender().SetAddress("user@example.org");
  m.Recipients().AddAddress("www@pages.example", "");
  m.SetSubject("Request");
  m.Body() = {"SEND http://www.example.com/some/page-" + std::to_string(n) + ".html"};
}

struct Figure {
  double seconds = 0;
  std::uint64_t bytes = 0;  // both directions through the relay
};

// Runs `send` once through the relay and measures it.
template <class F>
Figure Measure(DelayRelay& relay, F send) {
  relay.Reset();
  const double t0 = Now();
  send();
  const double seconds = Now() - t0;
  relay.WaitIdle();
  return {seconds, relay.Up() + relay.Down()};
}

class Msmtp {
 public:
  Msmtp(std::uint16_t port, const std::string& certs)
      : port_(port), certs_(certs), file_(MakeTemp("benchlat-msg", false)) {
    TmsMessage m;
    FillRequest(m, 0);
    TMemoryStream s;
    m.SaveToStream(s);
    std::FILE* f = std::fopen(file_.c_str(), "wb");
    std::fwrite(s.Data().data(), 1, s.Data().size(), f);
    std::fclose(f);
  }
  ~Msmtp() { ::unlink(file_.c_str()); }
  void Send() const {
    const int in = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    const int rc = Wait(Spawn({"msmtp", "-C", "/dev/null", "--host=127.0.0.1",
                               "--port=" + std::to_string(port_), "--domain=localhost",
                               "--from=user@example.org", "--tls=on", "--tls-starttls=on",
                               "--tls-trust-file=" + certs_ + "/ca.pem", "--auth=plain",
                               "--user=" + kUser, "--passwordeval=echo " + kSecret, "--",
                               "www@pages.example"},
                              in));
    ::close(in);
    if (rc != 0) throw std::runtime_error("msmtp failed: " + std::to_string(rc));
  }

 private:
  std::uint16_t port_;
  std::string certs_;
  std::string file_;
};

void Configure(TmsSMTP& smtp, std::uint16_t port, const std::string& certs) {
  smtp.SetWinsockLoaded(true);
  smtp.Server = "127.0.0.1:" + std::to_string(port);
  smtp.TimeOut = 60;
  smtp.Security = TSmtpSecurity::StartTls;
  smtp.UserName = kUser;
  smtp.Password = kSecret;
  smtp.AuthMechanism = "PLAIN";
  smtp.CAFile = certs + "/ca.pem";
}

void Rows(const char* name, Figure ours, Figure peer) {
  std::printf("%s: ours %.3f s, msmtp %.3f s, ratio %.2f\n", name, ours.seconds, peer.seconds,
              ours.seconds / peer.seconds);
  std::printf("%s, bytes over the link: ours %llu, msmtp %llu, ratio %.2f\n", name,
              static_cast<unsigned long long>(ours.bytes),
              static_cast<unsigned long long>(peer.bytes),
              static_cast<double>(ours.bytes) / static_cast<double>(peer.bytes));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  const std::string certs = MakeCertificates();
  {
    Server server(certs);
    DelayRelay relay(server.port(), kDelayMs);
    Msmtp msmtp(relay.port(), certs);
    std::vector<TmsMessage> messages(kRequests);
    for (int i = 0; i < kRequests; ++i) FillRequest(messages[static_cast<std::size_t>(i)], i);

    // (f) first, while no TLS session is kept: a full handshake each.
    TmsSMTP smtp;
    Configure(smtp, relay.port(), certs);
    smtp.MailMessage = &messages[0];
    const Figure one = Measure(relay, [&] { smtp.Send(); });
    if (smtp.LinkBytes().Sent + smtp.LinkBytes().Received > one.bytes)
      throw std::runtime_error("the client counted more bytes than crossed the relay");
    const Figure msmtp_one = Measure(relay, [&] { msmtp.Send(); });
    Rows("(f) one request over a 600 ms round trip", one, msmtp_one);

    const Figure msmtp_five = Measure(relay, [&] {
      for (int i = 0; i < kRequests; ++i) msmtp.Send();
    });
    std::vector<TmsMessage*> all;
    for (TmsMessage& m : messages) all.push_back(&m);
    const Figure batch = Measure(relay, [&] { smtp.SendMessages(all); });
    Rows("(g) five requests, ours over one connection", batch, msmtp_five);

    const Figure each = Measure(relay, [&] {
      for (TmsMessage* m : all) {
        smtp.MailMessage = m;
        smtp.Send();
      }
    });
    Rows("(h) five requests, ours as five resumed connections", each, msmtp_five);
  }
  std::filesystem::remove_all(certs);
  return 0;
}
