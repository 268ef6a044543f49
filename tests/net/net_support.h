// Helpers for the network tests: the Qt application, a scripted loopback
// server and the real SMTP server.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/smtp.h"
#include "tests/platform/temp_folder.h"

// The one QCoreApplication of the test process.
void EnsureApp();

// Runs the event queue for about `ms` milliseconds.
void SpinFor(int ms);

// A loopback port that nothing listens on: a connect there is refused.
std::uint16_t ClosedPort();

// The sockets made from now on (until NetTest's TearDown) use a POSIX layer
// that `setup` adjusted, e.g. with a resolver of the test's own.
void UseWinsock(std::function<void(TPosixWinsock&)> setup);
// Every host name resolves to 127.0.0.1; with `ipv6` to ::1 as well.
void ResolveEveryNameToLoopback(bool ipv6 = false);
// Whether this kernel has IPv6: ::1 can be bound.
bool HaveIpv6Loopback();

// The server side of one connection, run by a ScriptedServer's thread.
class Peer {
 public:
  explicit Peer(int fd) : fd_(fd) {}
  void Send(const std::string& text);
  // The next line without CR LF; nullopt when the client closed or nothing
  // came within 20 seconds.
  std::optional<std::string> ReadLine();
  // Everything up to the line "." (raw, still dot-stuffed); nullopt on close.
  std::optional<std::string> ReadData();
  // What came after the line last read, not yet taken: a pipelining client
  // sent it in the same flight.
  const std::string& Pending() const { return buf_; }
  // Waits (up to 20 seconds) until the client closes.
  void WaitClosed();
  void Close();
  int fd() const { return fd_; }

 private:
  bool Fill();
  int fd_;
  std::string buf_;
};

// Listens on 127.0.0.1 at a free port; a thread accepts `connections`
// connections in turn and runs the script on each.
class ScriptedServer {
 public:
  using Script = std::function<void(Peer&)>;
  explicit ScriptedServer(Script script, int connections = 1);
  ~ScriptedServer();

  std::uint16_t port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  // Lines the scripts recorded.
  void Record(const std::string& line);
  std::vector<std::string> Lines();
  // Waits until the script thread is done.
  void Join();

 private:
  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<int> current_fd_{-1};
  std::mutex m_;
  std::vector<std::string> lines_;
  std::thread thread_;
};

// A plain SMTP dialogue; `answer` may replace the reply to any client line
// (return nullopt for the default, "" to close the connection instead).
// Every client line is recorded; message data is recorded as one entry
// "DATA:" followed by the raw text.
using SmtpAnswer = std::function<std::optional<std::string>(const std::string& line)>;
void RunSmtp(Peer& peer, ScriptedServer& server, const std::string& greeting,
             SmtpAnswer answer = nullptr);

// Certificates made once per test process with openssl: ca.pem, and
// server, other (another name) and expired as NAME.pem and NAME.key;
// other.fp holds the fingerprint of other.pem.
const TempFolder& TestCertificates();

// Debian's aiosmtpd, started on 127.0.0.1 at a free port. `options` are
// smtp_server.py's: --starttls or --tls with --cert and --key, --auth
// USER:SECRET, --size N, --port N, --host ::1, --pipelining.
class RealSmtpServer {
 public:
  explicit RealSmtpServer(const std::vector<std::string>& options = {});
  ~RealSmtpServer();
  std::uint16_t port() const { return port_; }
  // "127.0.0.1:port" or "[::1]:port".
  std::string Address() const;

  struct Received {
    std::string helo;
    std::string mail_from;
    std::vector<std::string> rcpt_tos;
    std::string data;
  };
  // The messages received so far, in order.
  std::vector<Received> Messages();

 private:
  TempFolder dir_;
  std::string host_ = "127.0.0.1";
  int pid_ = -1;
  int stdin_fd_ = -1;
  std::uint16_t port_ = 0;
};

// A request-like message whose body holds lines that begin with ".".
void RequestMessage(TmsMessage& m);

// An SMTP client with its message, recording its events and the text the
// encoder wrote.
struct SmtpClient {
  TmsSMTP smtp;
  TmsMessage message;
  std::string log;        // the events in order, joined by "|"
  std::string sent_text;  // what the encoder wrote, read while sending
  explicit SmtpClient(const std::string& server, int timeout = 20);
};

// The text of the E that `f` raises, "" when it raises nothing; any other
// exception escapes and fails the test.
template <class E, class F>
std::string Raised(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

class NetTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};
