// TLS, STARTTLS and AUTH against Debian's aiosmtpd with certificates that
// openssl makes for the test.
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "core/outbox.h"
#include "mail/codecs.h"
#include "net_support.h"
#include "platform/errors.h"

namespace {

const std::string kUser = "alice@example.org";
const std::string kSecret = "s3cret pass";

std::string Cert(const std::string& name) { return TestCertificates() / name; }

// The SHA-256 fingerprint of other.pem, a certificate for another name.
std::string OtherFingerprint() {
  const std::string fp = GetFile(Cert("other.fp"));
  return fp.substr(0, fp.find('\n'));
}

std::vector<std::string> TlsServer(const char* mode, const std::string& cert = "server") {
  return {mode,
          "--cert",
          Cert(cert + ".pem"),
          "--key",
          Cert(cert + ".key"),
          "--auth",
          kUser + ":" + kSecret};
}

void Secure(SmtpClient& c, TSmtpSecurity security, const std::string& mechanism = "") {
  RequestMessage(c.message);
  c.smtp.Security = security;
  c.smtp.UserName = kUser;
  c.smtp.Password = kSecret;
  c.smtp.AuthMechanism = mechanism;
  c.smtp.CAFile = Cert("ca.pem");
}

// Sends and returns the error text, or "" when the message went out.
template <class E>
std::string SendFailure(SmtpClient& c) {
  const std::string error = Raised<E>([&] {
    c.smtp.Connect();
    c.smtp.Send();
  });
  EXPECT_FALSE(c.smtp.Connected());
  return error;
}

using SmtpSecureTest = NetTest;

TEST_F(SmtpSecureTest, StartTlsWithEachPasswordMethodDeliversAndHidesTheSecret) {
  RealSmtpServer server(TlsServer("--starttls"));
  TempFolder dir;
  for (const char* mechanism : {"PLAIN", "LOGIN"}) {
    const std::string log_file = dir / (std::string(mechanism) + ".LOG");
    SmtpClient c(server.Address());
    Secure(c, TSmtpSecurity::StartTls, mechanism);
    c.smtp.LogFileName = log_file;
    c.message.Body().push_back("Grüße");
    bool secure = false;
    c.smtp.OnMailSent = [&](TagSocket& s) { secure = s.Secure(); };
    c.smtp.Send();
    EXPECT_TRUE(secure);
    EXPECT_TRUE(c.smtp.DataAccepted());
    EXPECT_TRUE(c.message.Allow8Bit);
    // Written while the client still lives.
    const std::string log = GetFile(log_file);
    EXPECT_NE(log.find("STARTTLS\r\n220 "), std::string::npos) << log;
    EXPECT_NE(log.find(std::string("AUTH ") + mechanism), std::string::npos) << log;
    EXPECT_NE(log.find("<hidden>\r\n235 "), std::string::npos) << log;
    if (c.sent_text.find("\xC3\xBC") != std::string::npos) {
      EXPECT_NE(log.find("BODY=8BITMIME"), std::string::npos) << log;
    }
    EXPECT_EQ(log.find("s3cret"), std::string::npos);
    EXPECT_EQ(log.find(AuthInitialResponse("PLAIN", kUser, kSecret)), std::string::npos);
    EXPECT_EQ(log.find(Base64EncodeChunk(kSecret)), std::string::npos);
  }
  auto got = server.Messages();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].mail_from, "user@example.org");
}

TEST_F(SmtpSecureTest, ImplicitTlsByNameWithPasswordAndTokens) {
  RealSmtpServer server(TlsServer("--tls"));
  for (const char* mechanism : {"", "XOAUTH2", "OAUTHBEARER"}) {
    SmtpClient c("localhost:" + std::to_string(server.port()));
    Secure(c, TSmtpSecurity::Tls, mechanism);
    c.smtp.Send();
    EXPECT_TRUE(c.smtp.DataAccepted()) << mechanism;
  }
  EXPECT_EQ(server.Messages().size(), 3u);

  SmtpClient bad("localhost:" + std::to_string(server.port()));
  Secure(bad, TSmtpSecurity::Tls, "XOAUTH2");
  bad.smtp.Password = "expired-token";
  EXPECT_EQ(SendFailure<EAuthError>(bad).rfind("Authentication failed: 535 ", 0), 0u);
  EXPECT_EQ(server.Messages().size(), 3u);
}

TEST_F(SmtpSecureTest, EachRefusalSaysWhyAndSendsNothing) {
  const std::string other_fp = OtherFingerprint();
  struct Case {
    std::vector<std::string> server;
    TSmtpSecurity security;
    std::function<void(SmtpClient&)> change;
    std::string expected;  // a part of the error text
  };
  const std::vector<Case> cases = {
      {TlsServer("--starttls"), TSmtpSecurity::StartTls,
       [](SmtpClient& c) { c.smtp.Password = "wrong"; },
       "Authentication failed: 535 5.7.8 Authentication credentials invalid"},
      {TlsServer("--tls", "other"), TSmtpSecurity::Tls, nullptr,
       "names another server than 127.0.0.1; its SHA-256 fingerprint is " + other_fp},
      {TlsServer("--tls", "expired"), TSmtpSecurity::Tls, nullptr, "it has expired"},
      {TlsServer("--starttls"), TSmtpSecurity::StartTls,
       [](SmtpClient& c) { c.smtp.CAFile.clear(); }, "its issuer is unknown"},
      {TlsServer("--tls"), TSmtpSecurity::Tls,
       [&](SmtpClient& c) { c.smtp.Fingerprint = other_fp; },
       "does not match the pinned fingerprint"},
      {{}, TSmtpSecurity::StartTls, nullptr, "The server does not offer STARTTLS"},
      // TLS chosen for a server that answers in plain text: a setting to
      // correct, not a failure to retry.
      {{}, TSmtpSecurity::Tls, nullptr,
       " does not speak TLS; check the port and the connection security"},
      // The server offers AUTH only inside TLS.
      {{"--auth", kUser + ":" + kSecret},
       TSmtpSecurity::None,
       nullptr,
       "The server offers no authentication"},
  };
  for (const Case& k : cases) {
    RealSmtpServer server(k.server);
    SmtpClient c(server.Address());
    Secure(c, k.security);
    if (k.change) k.change(c);
    std::string error = "(sent)";
    try {
      c.smtp.Connect();
      c.smtp.Send();
    } catch (const ESocketError& e) {
      error = e.what();
      // Each is for the user to mend: the outbox would not retry it.
      EXPECT_EQ(ClassifyFailure(e, c.smtp.DataSent()), TFailureKind::Permanent) << error;
    }
    EXPECT_FALSE(c.smtp.Connected());
    EXPECT_NE(error.find(k.expected), std::string::npos) << error;
    EXPECT_NE(c.log.find("Error " + error), std::string::npos) << c.log;
    EXPECT_FALSE(c.smtp.DataSent());
    EXPECT_TRUE(server.Messages().empty());
  }
}

// Only a name among the certificate's alternative names counts, and a
// wildcard must stand for a whole label.
TEST_F(SmtpSecureTest, CertificateMustListTheServersName) {
  ResolveEveryNameToLoopback();
  struct Case {
    const char* cert;
    const char* host;
    bool accepted;
  };
  for (const Case k : {Case{"cnonly", "localhost", false}, Case{"partial", "mail.example.net", false},
                       Case{"wildcard", "mail.example.net", true}}) {
    RealSmtpServer server(TlsServer("--tls", k.cert));
    SmtpClient c(std::string(k.host) + ":" + std::to_string(server.port()));
    Secure(c, TSmtpSecurity::Tls);
    const std::string error = SendFailure<ECertificateError>(c);
    SCOPED_TRACE(k.cert);
    if (k.accepted) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(server.Messages().size(), 1u);
    } else {
      EXPECT_NE(error.find("it names another server than " + std::string(k.host)),
                std::string::npos)
          << error;
      EXPECT_TRUE(server.Messages().empty());
    }
  }
}

// With no port in the server's address, the security chooses the
// submission port.
TEST_F(SmtpSecureTest, SecurityWithoutAPortDialsTheSubmissionPort) {
  for (const auto& [security, port] :
       {std::pair{TSmtpSecurity::StartTls, 587}, std::pair{TSmtpSecurity::Tls, 465}}) {
    SmtpClient c("127.0.0.1", 2);
    Secure(c, security);
    try {
      c.smtp.Connect();
    } catch (const EError&) {  // nothing is expected to listen there
    }
    EXPECT_EQ(c.smtp.Port(), port);
  }
}

TEST_F(SmtpSecureTest, PinnedFingerprintAloneDecides) {
  // Another name and no trusted issuer: the pin still lets it through.
  RealSmtpServer server(TlsServer("--tls", "other"));
  SmtpClient c(server.Address());
  Secure(c, TSmtpSecurity::Tls);
  c.smtp.CAFile.clear();
  c.smtp.Fingerprint = OtherFingerprint();
  c.smtp.Send();
  EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(SmtpSecureTest, MessageOverTheServersSizeIsRefusedBeforeTheEnvelope) {
  auto options = TlsServer("--starttls");
  options.insert(options.end(), {"--size", "2000"});
  RealSmtpServer server(options);
  SmtpClient c(server.Address());
  Secure(c, TSmtpSecurity::StartTls);
  std::vector<std::string> sent;
  c.smtp.OnLineSent = [&](TagSocket&, const std::string& l) { sent.push_back(l); };
  c.message.Body().assign(100, std::string(60, 'x'));
  const std::string error = SendFailure<ESocketError>(c);
  EXPECT_NE(error.find("bytes; the server accepts at most 2000"), std::string::npos) << error;
  EXPECT_EQ(c.smtp.Extensions().size, 2000u);
  for (const auto& l : sent) EXPECT_EQ(l.rfind("MAIL", 0), std::string::npos);
  EXPECT_TRUE(server.Messages().empty());
}

}  // namespace

// A server that takes the connection and never answers the handshake: Cancel
// ends the wait, as it does outside TLS, long before the time-out.
TEST_F(SmtpSecureTest, CancelDuringTheHandshakeEndsTheWait) {
  ScriptedServer silent([](Peer& p) { p.WaitClosed(); });
  SmtpClient c(silent.Address(), 60);
  Secure(c, TSmtpSecurity::Tls);
  QElapsedTimer waited;
  waited.start();
  QTimer::singleShot(300, [&] { c.smtp.Cancel(); });
  EXPECT_THROW(c.smtp.Connect(), ECanceledError);
  EXPECT_LT(waited.elapsed(), 30000);
  EXPECT_FALSE(c.smtp.Connected());
}

// One implicit-TLS SMTP session; prints its port, then "clean" when the
// client ended TLS with the closing alert, "unclean" when it just hung up.
const char kTlsSession[] = R"PY(
import socket, ssl, sys
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(sys.argv[1], sys.argv[2])
ctx.options &= ~ssl.OP_IGNORE_UNEXPECTED_EOF  # an end without the alert is an error
listener = socket.socket()
listener.bind(('127.0.0.1', 0))
listener.listen(1)
print(listener.getsockname()[1], flush=True)
conn = ctx.wrap_socket(listener.accept()[0], server_side=True, suppress_ragged_eofs=False)
f = conn.makefile('rwb')
def say(text):
    f.write(text.encode() + b'\r\n')
    f.flush()
say('220 ready')
data = False
try:
    for line in f:
        word = line.strip().upper()
        if data:
            if word == b'.':
                data = False
                say('250 ok')
        elif word == b'DATA':
            data = True
            say('354 go on')
        else:
            say('221 bye' if word == b'QUIT' else '250 ok')
    print('clean', flush=True)
except ssl.SSLError:
    print('unclean', flush=True)
)PY";

TEST_F(SmtpSecureTest, TheConnectionEndsWithTheClosingAlert) {
  TempFolder dir;
  const std::string script = dir / "session.py";
  std::ofstream(script) << kTlsSession;
  FILE* server = ::popen(
      ("/usr/bin/python3 " + script + " " + Cert("server.pem") + " " + Cert("server.key")).c_str(),
      "r");
  ASSERT_TRUE(server);
  char line[64] = {};
  ASSERT_TRUE(std::fgets(line, sizeof line, server));
  {
    SmtpClient c("127.0.0.1:" + std::string(line, std::strcspn(line, "\n")));
    Secure(c, TSmtpSecurity::Tls);
    c.smtp.UserName.clear();
    c.smtp.Send();
  }
  std::string end = std::fgets(line, sizeof line, server) ? line : "";
  ::pclose(server);
  EXPECT_EQ(end, "clean\n");
}
