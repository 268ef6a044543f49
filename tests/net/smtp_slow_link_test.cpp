// What saves round trips and bytes on a slow link: pipelined commands, TLS
// sessions resumed between connections, and the bytes each connection moved.
#include "delay_relay.h"
#include "net_support.h"
#include "platform/errors.h"

namespace {

const std::string kUser = "alice@example.org";
const std::string kSecret = "s3cret pass";

// A scripted server that greets with EHLO's `extensions` and records, for
// MAIL FROM and the end of data, what the client had sent behind them.
struct GroupServer {
  GroupServer(std::string refuse_line, std::string ehlo_extensions)
      : refuse(std::move(refuse_line)), extensions(std::move(ehlo_extensions)) {}
  std::string refuse;  // the client line to answer with a 550
  std::string extensions;
  std::string behind_auth, behind_mail, behind_end;
  ScriptedServer server{[this](Peer& p) { Run(p); }};

  void Run(Peer& p) {
    bool no_sender = false, no_login = false;
    RunSmtp(p, server, "220 ready\r\n", [&](const std::string& l) -> std::optional<std::string> {
      if (l.starts_with("EHLO "))
        return "250-test\r\n250-AUTH PLAIN\r\n" + extensions + "250 8BITMIME\r\n";
      if (l.starts_with("AUTH ")) behind_auth = p.Pending();
      if (l.starts_with("AUTH ")) {
        no_login = refuse == "AUTH ";
        return no_login ? "535 5.7.8 bad credentials\r\n" : "235 ok\r\n";
      }
      if (no_login && (l.starts_with("MAIL ") || l.starts_with("RCPT ") || l == "DATA"))
        return "530 5.7.0 log in first\r\n";
      if (l.starts_with("MAIL ")) behind_mail = p.Pending();
      if (l == ".") behind_end = p.Pending();
      if (!refuse.empty() && l.starts_with(refuse)) {
        no_sender = l.starts_with("MAIL ");
        return "550 5.1.1 refused: " + l + "\r\n";
      }
      if (no_sender && (l.starts_with("RCPT ") || l == "DATA")) return "503 need MAIL\r\n";
      return std::nullopt;
    });
  }
};

void Authenticated(SmtpClient& c) {
  RequestMessage(c.message);
  c.message.Recipients().AddAddress("second@example.net", "");
  c.smtp.UserName = kUser;
  c.smtp.Password = kSecret;
}

using SmtpSlowLinkTest = NetTest;

// With PIPELINING, AUTH PLAIN, the envelope and DATA go in one flight, the
// replies are checked in order, and the first refusal is the error; the log
// keeps every line in the order it went or came.
TEST_F(SmtpSlowLinkTest, PipelinedGroupIsCheckedInOrder) {
  struct Case {
    std::string refuse;
    std::string error;
    bool quit;            // the client still said goodbye (not hung up inside DATA)
    std::string replies;  // to the group, as logged
  };
  const std::string rcpt_refused = "550 5.1.1 refused: RCPT TO:<second@example.net>";
  const std::string mail_refused = "550 5.1.1 refused: MAIL FROM:<user@example.org>";
  for (const Case& k :
       {Case{"", "", true, "250 OK\r\n250 OK\r\n250 OK\r\n354 "},
        Case{"RCPT TO:<second@", rcpt_refused, false,
             "250 OK\r\n250 OK\r\n" + rcpt_refused + "\r\n354 "},
        Case{"MAIL ", mail_refused, true,
             mail_refused + "\r\n503 need MAIL\r\n503 need MAIL\r\n503 need MAIL\r\n"},
        Case{"AUTH ", "Authentication failed: 535 5.7.8 bad credentials", true,
             "535 5.7.8 bad credentials\r\n530 5.7.0 log in first\r\n530 5.7.0 log in first\r\n"
             "530 5.7.0 log in first\r\n530 5.7.0 log in first\r\n"}}) {
    GroupServer s{k.refuse, "250-PIPELINING\r\n"};
    TempFolder dir;
    SmtpClient c(s.server.Address());
    Authenticated(c);
    c.smtp.LogFileName = dir / "SMTP.LOG";
    EXPECT_EQ(Raised<ESocketError>([&] { c.smtp.Send(); }), k.error);
    s.server.Join();
    EXPECT_EQ(s.behind_auth,
              "MAIL FROM:<user@example.org>\r\nRCPT TO:<www@pages.example>\r\n"
              "RCPT TO:<second@example.net>\r\nDATA\r\n");
    if (k.refuse != "AUTH ") {
      EXPECT_EQ(s.behind_mail,
                "RCPT TO:<www@pages.example>\r\nRCPT TO:<second@example.net>\r\nDATA\r\n");
    }
    const auto lines = s.server.Lines();
    EXPECT_EQ(lines.back() == "QUIT", k.quit) << k.refuse;
    const bool data = std::any_of(lines.begin(), lines.end(),
                                  [](const std::string& l) { return l.starts_with("DATA:"); });
    EXPECT_EQ(data, k.error.empty()) << k.refuse;
    EXPECT_EQ(c.smtp.DataAccepted(), k.error.empty());
    const std::string log = GetFile(c.smtp.LogFileName);
    EXPECT_NE(log.find(std::string("AUTH PLAIN <hidden>\r\nMAIL FROM:<user@example.org>\r\n"
                       "RCPT TO:<www@pages.example>\r\nRCPT TO:<second@example.net>\r\nDATA\r\n") +
                       (k.refuse == "AUTH " ? "" : "235 ok\r\n") + k.replies),
              std::string::npos)
        << log;
    if (k.error.empty()) {
      EXPECT_EQ(s.behind_end, "QUIT\r\n");
      EXPECT_NE(log.find("\r\n.\r\nQUIT\r\n250 Queued\r\n221 Bye"), std::string::npos) << log;
    } else {
      EXPECT_TRUE(c.log.ends_with("|Error " + k.error + "|Closing|Closed")) << c.log;
    }
  }
}

// Without the extension each command waits for its reply, and a refused
// recipient ends the dialogue before DATA with the same text.
TEST_F(SmtpSlowLinkTest, WithoutPipeliningEachCommandWaits) {
  for (const std::string refuse : {"", "RCPT TO:<second@"}) {
    GroupServer s{refuse, ""};
    SmtpClient c(s.server.Address());
    Authenticated(c);
    const std::string error = Raised<ESocketError>([&] { c.smtp.Send(); });
    s.server.Join();
    EXPECT_EQ(s.behind_mail, "");
    const auto lines = s.server.Lines();
    EXPECT_EQ(lines.back(), "QUIT");
    if (refuse.empty()) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(s.behind_end, "");
    } else {
      EXPECT_EQ(error, "550 5.1.1 refused: RCPT TO:<second@example.net>");
      EXPECT_EQ(std::count(lines.begin(), lines.end(), "DATA"), 0);
    }
  }
}

// Several messages share one connection, one greeting and one QUIT; only
// the last one's end carries the QUIT along.
TEST_F(SmtpSlowLinkTest, SeveralMessagesOverOneConnection) {
  GroupServer s{"", "250-PIPELINING\r\n"};
  SmtpClient c(s.server.Address());
  Authenticated(c);
  TmsMessage second;
  RequestMessage(second);
  second.SetSubject("Second");
  c.smtp.SendMessages({&c.message, &second});
  s.server.Join();
  EXPECT_EQ(c.smtp.MailMessage, &c.message);
  const auto lines = s.server.Lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.starts_with("EHLO "); }),
            1);
  std::vector<std::string> data;
  for (const std::string& l : lines)
    if (l.starts_with("DATA:")) data.push_back(l);
  ASSERT_EQ(data.size(), 2u);
  EXPECT_NE(data[1].find("Subject:  Second\r\n"), std::string::npos) << data[1];
  EXPECT_EQ(lines.back(), "QUIT");
  EXPECT_EQ(s.behind_end, "QUIT\r\n");
}

std::vector<std::string> TlsOptions(std::uint16_t port = 0) {
  const TempFolder& certs = TestCertificates();
  std::vector<std::string> o = {"--tls", "--cert", certs / "server.pem", "--key",
                                certs / "server.key", "--auth", kUser + ":" + kSecret};
  if (port) o.insert(o.end(), {"--port", std::to_string(port)});
  return o;
}

// Sends one request over TLS from the first byte; whether its handshake
// resumed a session of this process.
bool SendResumed(const std::string& address) {
  SmtpClient c(address);
  Authenticated(c);
  c.smtp.Security = TSmtpSecurity::Tls;
  c.smtp.CAFile = TestCertificates() / "ca.pem";
  c.smtp.Send();
  EXPECT_TRUE(c.smtp.DataAccepted());
  return c.smtp.TlsResumed();
}

// The second connection to a server in one run resumes the first one's
// session; a server that no longer knows it gets a full handshake.
TEST_F(SmtpSlowLinkTest, SecondConnectionResumesTheTlsSession) {
  std::uint16_t port = 0;
  {
    RealSmtpServer server(TlsOptions());
    port = server.port();
    EXPECT_FALSE(SendResumed(server.Address()));
    EXPECT_TRUE(SendResumed(server.Address()));
  }
  // A new server process at the same port has other ticket keys.
  RealSmtpServer again(TlsOptions(port));
  EXPECT_FALSE(SendResumed(again.Address()));
  EXPECT_TRUE(SendResumed(again.Address()));
  EXPECT_EQ(again.Messages().size(), 2u);
}

// The bytes counted are those that crossed the link, TLS records included;
// they stay readable after the connection and start again at the next.
TEST_F(SmtpSlowLinkTest, ByteCountsAreWhatCrossedTheLink) {
  RealSmtpServer server(TlsOptions());
  DelayRelay relay(server.port(), 0);
  for (int i = 0; i < 2; ++i) {
    relay.Reset();
    SmtpClient c(relay.Address());
    Authenticated(c);
    c.smtp.Security = TSmtpSecurity::Tls;
    c.smtp.CAFile = TestCertificates() / "ca.pem";
    c.smtp.Send();
    relay.WaitIdle();
    const TLinkBytes bytes = c.smtp.LinkBytes();
    EXPECT_EQ(bytes.Sent, relay.Up());
    // The server's closing alert may come after the client stopped reading.
    const std::uint64_t unread = relay.Down() - bytes.Received;
    EXPECT_TRUE(unread == 0 || unread == 24) << unread;
  }
}

}  // namespace
