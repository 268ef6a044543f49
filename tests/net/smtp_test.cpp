// The SMTP client against Debian's aiosmtpd and against scripted servers for
// the answers a real server will not give on demand.
#include <poll.h>

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>

#include "mail/codecs.h"
#include "net_support.h"
#include "platform/errors.h"

namespace {

using Client = SmtpClient;

// Strict servers want a fully qualified name or the local address literal.
std::string ExpectedHelo(const TmsSMTP& smtp) {
  const std::string& name = smtp.LocalHostName();
  return name.find('.') != std::string::npos ? name : "[127.0.0.1]";
}

using SmtpRealServerTest = NetTest;

TEST_F(SmtpRealServerTest, RequestArrivesWithEnvelopeAndExactText) {
  RealSmtpServer server;
  TempFolder dir;
  const std::string log_file = dir / "SMTP.LOG";
  {
    Client c(server.Address());
    c.smtp.LogFileName = log_file;
    RequestMessage(c.message);
    c.message.Recipients().AddAddress("second@example.net", "Second");
    c.message.CC().AddAddress("cc@example.net", "");
    c.message.BCC().AddAddress("bcc@example.net", "");
    // Attachments as encoded: binary, and text with lines that begin with ".".
    std::string bytes;
    for (int i = 0; i < 5000; ++i) bytes += static_cast<char>(i * 7 % 256);
    for (auto [name, data] :
         {std::pair{"data.bin", bytes}, {"notes.txt", ".starts with a dot\r\nsecond\r\n.\r\n"}}) {
      auto item = std::make_unique<TmsAttItem>();
      item->Stream().SetData(data);
      item->SetFileName(name);
      c.message.Attachments().Add(std::move(item));
    }
    c.smtp.Connect();
    c.smtp.Send();
    EXPECT_TRUE(c.log.starts_with("Open|Prepare|Sending|Progress ")) << c.log;
    EXPECT_TRUE(c.log.ends_with("|Progress 100|Progress 0|MailSent|Closing|Closed")) << c.log;
    EXPECT_FALSE(c.smtp.Connected());

    auto got = server.Messages();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].mail_from, "user@example.org");
    EXPECT_EQ(got[0].rcpt_tos, (std::vector<std::string>{"www@pages.example", "second@example.net",
                                                         "cc@example.net", "bcc@example.net"}));
    EXPECT_EQ(got[0].helo, ExpectedHelo(c.smtp));
    // The encoder's text, lines beginning with "." included, and the empty
    // line the client always sends before the end of data.
    EXPECT_GT(c.sent_text.size(), 5000u);
    EXPECT_NE(c.sent_text.find("\r\n.hidden line\r\n"), std::string::npos);
    EXPECT_EQ(got[0].data, c.sent_text + "\r\n");
  }
  const std::string log = GetFile(log_file);
  for (const char* expected : {"220 ", "HELO ", "250 ", "MAIL FROM:<user@example.org>\r\n",
                               "RCPT TO:<bcc@example.net>\r\n", "DATA\r\n354 ",
                               "Suppressing the message body\r\n\r\n.\r\n250 ", "QUIT\r\n221 "})
    EXPECT_NE(log.find(expected), std::string::npos) << expected;
  EXPECT_EQ(log.find("hidden line"), std::string::npos);
}

// Scripted servers.
using SmtpScriptedTest = NetTest;

TEST_F(SmtpScriptedTest, LongTwoLineGreetingAndBareHeloFallback) {
  const std::string long_line = "220-" + std::string(996, 'g');
  ScriptedServer server([&server, long_line](Peer& p) {
    RunSmtp(p, server, long_line + "\r\n220 second line\r\n", [](const std::string& l) {
      return l.rfind("HELO ", 0) == 0 ? std::optional<std::string>("501 say it plainly\r\n")
                                      : std::nullopt;
    });
  });
  Client c(server.Address());
  RequestMessage(c.message);
  std::vector<std::string> received;
  c.smtp.OnLineReceived = [&](TagSocket&, const std::string& l) { received.push_back(l); };
  c.smtp.Send();
  server.Join();
  EXPECT_EQ(received.at(0), long_line);
  auto lines = server.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "HELO " + ExpectedHelo(c.smtp));
  EXPECT_EQ(lines[1], "HELO");
  EXPECT_EQ(lines[2], "MAIL FROM:<user@example.org>");
  EXPECT_EQ(lines.back(), "QUIT");
  // The rejected first HELO is no error for the user.
  EXPECT_EQ(c.log.find("Error"), std::string::npos) << c.log;
}

// A refusal, a reply too short to read and a reply the server never
// finished each end the send with their text; the message counts as sent
// only once its data went out, and as accepted by none.
TEST_F(SmtpScriptedTest, BadRepliesEndTheSendWithTheirText) {
  struct Case {
    const char* after;  // the client line the reply answers
    const char* reply;
    bool hang_up;  // right after the reply
    const char* error;
    bool sent;
  };
  for (Case k : {Case{"RCPT TO:<www@pages.example>", "550 5.1.1 no such user\r\n", false,
                      "550 5.1.1 no such user", false},
                 Case{".", "250 Que", true, "[10054] Connection reset by peer", true}}) {
    ScriptedServer server([&server, k](Peer& p) {
      RunSmtp(p, server, "220 ready\r\n",
              [&p, k](const std::string& l) -> std::optional<std::string> {
                if (l.rfind(k.after, 0) != 0) return std::nullopt;
                if (!k.hang_up) return k.reply;
                p.Send(k.reply);
                return "";
              });
    });
    Client c(server.Address());
    RequestMessage(c.message);
    EXPECT_EQ(Raised<ESocketError>([&] { c.smtp.Send(); }), k.error);
    server.Join();
    const std::string log = c.log;
    EXPECT_TRUE(log.starts_with("Open|Prepare|Sending|")) << log;
    EXPECT_TRUE(log.ends_with(std::string("|Error ") + k.error + "|Closing|Closed")) << log;
    EXPECT_EQ(log.find("MailSent"), std::string::npos) << log;
    EXPECT_EQ(server.Lines().back() == "QUIT", !k.hang_up) << k.after;
    EXPECT_FALSE(c.smtp.Connected());
    EXPECT_EQ(c.smtp.MessageStream, nullptr);
    EXPECT_EQ(c.smtp.DataSent(), k.sent) << k.after;
    EXPECT_FALSE(c.smtp.DataAccepted()) << k.after;
  }
}

// A server that hangs up at QUIT, or never answers it, holds the message
// all the same: it was reported accepted before QUIT went out.
TEST_F(SmtpScriptedTest, NoAnswerToQuitLeavesTheMessageAccepted) {
  for (const bool hang_up : {true, false}) {
    ScriptedServer server([&server, hang_up](Peer& p) {
      RunSmtp(p, server, "220 ready\r\n", [&p, hang_up](const std::string& l) {
        if (l != "QUIT") return std::optional<std::string>();
        if (!hang_up) p.WaitClosed();
        return std::optional<std::string>("");
      });
    });
    Client c(server.Address(), 1);
    RequestMessage(c.message);
    try {
      c.smtp.Send();
    } catch (const EError&) {  // whether or not that counts as a failure
    }
    EXPECT_TRUE(c.smtp.DataSent()) << hang_up;
    EXPECT_TRUE(c.smtp.DataAccepted()) << hang_up;
    EXPECT_NE(c.log.find("|MailSent|"), std::string::npos) << c.log;
    EXPECT_FALSE(c.smtp.Connected());
  }
}

// A message whose end cannot be recorded first never ends: the client hangs
// up inside the data, at once, and the server drops it.
TEST_F(SmtpScriptedTest, ARefusedDataEndHangsUpInsideTheMessage) {
  ScriptedServer server([&server](Peer& p) { RunSmtp(p, server, "220 ready\r\n"); });
  Client c(server.Address(), 30);
  RequestMessage(c.message);
  c.smtp.OnDataEnd = [](TagSocket&) { throw EFileError("disk full"); };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(c.smtp.Send(), EFileError);
  server.Join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(c.smtp.DataSent());
  const auto lines = server.Lines();
  EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("DATA:", 0) == 0; }));
}

// A final line may be the bare code, or the code and a space; only "-"
// after the code says more lines follow. The password exchange too.
TEST_F(SmtpScriptedTest, BareCodesEndTheirReplies) {
  int auth_step = 0;
  ScriptedServer server([&server, &auth_step](Peer& p) {
    RunSmtp(p, server, "220\r\n", [&auth_step](const std::string& l) -> std::optional<std::string> {
      if (l.rfind("EHLO ", 0) == 0) return "250-test.example\r\n250 AUTH LOGIN\r\n";
      if (l == "AUTH LOGIN" || auth_step == 1) {
        ++auth_step;
        return "334\r\n";
      }
      if (auth_step == 2) {
        ++auth_step;
        return "235\r\n";
      }
      if (l.rfind("MAIL", 0) == 0) return "250\r\n";
      if (l.rfind("RCPT", 0) == 0) return "250 \r\n";
      if (l == ".") return "250\r\n";
      return std::nullopt;
    });
  });
  Client c(server.Address(), 5);
  RequestMessage(c.message);
  c.smtp.UserName = "user";
  c.smtp.Password = "secret";
  c.smtp.AuthMechanism = "LOGIN";
  c.smtp.Send();
  server.Join();
  EXPECT_TRUE(c.smtp.DataAccepted());
  EXPECT_EQ(c.log.find("Error"), std::string::npos) << c.log;
  const auto lines = server.Lines();
  EXPECT_EQ(lines.at(1), "AUTH LOGIN");
  EXPECT_EQ(lines.at(3), Base64EncodeChunk("secret"));
  EXPECT_EQ(lines.back(), "QUIT");
}

// A reply of endless continuation lines ends the send: too long at once when
// they come fast, timed out within the time-out when they trickle in. The
// protocol log stays small either way.
TEST_F(SmtpScriptedTest, AReplyThatNeverEndsIsCutShort) {
  TempFolder dir;
  for (const std::size_t width : {10, 1000}) {
    ScriptedServer server([width](Peer& p) {
      const std::string line = "220-" + std::string(width, 'x') + "\r\n";
      for (int i = 0; i < 5000; ++i) p.Send(line);
      p.Send("220 at last\r\n");
      p.WaitClosed();
    });
    Client c(server.Address());
    c.smtp.LogFileName = dir / "SMTP.LOG";
    RequestMessage(c.message);
    EXPECT_EQ(Raised<ESocketError>([&] { c.smtp.Send(); }), "[10040] Message too long");
    EXPECT_FALSE(c.smtp.Connected());
    EXPECT_LT(GetFile(dir / "SMTP.LOG").size(), 80'000u) << width;
  }

  ScriptedServer trickle([](Peer& p) {
    for (int i = 0; i < 100; ++i) {
      p.Send("220-still greeting\r\n");
      pollfd closed{p.fd(), POLLIN, 0};
      if (::poll(&closed, 1, 300) > 0) return;
    }
    p.Send("220 at last\r\n");
  });
  Client c(trickle.Address(), 2);
  RequestMessage(c.message);
  QElapsedTimer waited;
  waited.start();
  EXPECT_EQ(Raised<ETimedOutError>([&] { c.smtp.Send(); }), "Operation timed out");
  EXPECT_LT(waited.elapsed(), 5000);
}

// The protocol log is the last connection's dialogue: it does not grow over
// the program's life.
TEST_F(SmtpScriptedTest, ProtocolLogHoldsTheLastConnectionOnly) {
  int n = 0;
  ScriptedServer server(
      [&server, &n](Peer& p) { RunSmtp(p, server, "220 greeting " + std::to_string(++n) + "\r\n"); },
      2);
  TempFolder dir;
  Client c(server.Address());
  c.smtp.LogFileName = dir / "SMTP.LOG";
  RequestMessage(c.message);
  c.smtp.Send();
  c.smtp.Send();
  const std::string log = GetFile(dir / "SMTP.LOG");
  EXPECT_EQ(log.find("220 greeting 1"), std::string::npos) << log;
  EXPECT_EQ(log.rfind("220 greeting 2\r\n", 0), 0u) << log;
  EXPECT_NE(log.find("QUIT\r\n221 "), std::string::npos) << log;
}

// An address beyond ASCII needs the extended greeting, and SMTPUTF8 from the
// server: without it the send stops before the envelope.
TEST_F(SmtpScriptedTest, NonAsciiEnvelopeAsksForSmtpUtf8) {
  for (const bool offered : {true, false}) {
    ScriptedServer server([&server, offered](Peer& p) {
      RunSmtp(p, server, "220 ready\r\n", [offered](const std::string& l) {
        if (l.rfind("EHLO ", 0) != 0) return std::optional<std::string>();
        return std::optional<std::string>(offered ? "250-test\r\n250 SMTPUTF8\r\n"
                                                  : "250 test\r\n");
      });
    });
    Client c(server.Address());
    RequestMessage(c.message);
    c.message.Recipients().AddAddress("j\xC3\xBCrgen@b\xC3\xBCro.example", "");
    const std::string error = Raised<ESocketError>([&] { c.smtp.Send(); });
    server.Join();
    const auto lines = server.Lines();
    EXPECT_EQ(lines.at(0).rfind("EHLO ", 0), 0u) << lines.at(0);
    if (offered) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(lines.at(1), "MAIL FROM:<user@example.org> SMTPUTF8");
      EXPECT_EQ(lines.at(3), "RCPT TO:<j\xC3\xBCrgen@b\xC3\xBCro.example>");
    } else {
      EXPECT_EQ(error,
                "The server does not take mail addresses beyond ASCII (it offers no SMTPUTF8): "
                "j\xC3\xBCrgen@b\xC3\xBCro.example");
      EXPECT_EQ(lines, (std::vector<std::string>{lines.at(0), "QUIT"}));
    }
  }
}

// A time-out or cancel, before the greeting or in the first HELO, ends the
// send with its own error: the outbox retries a time-out, not a socket error.
TEST_F(SmtpScriptedTest, TimeOutOrCancelEndsTheSendWithItsOwnError) {
  struct Case {
    bool greet, cancel;
  };
  for (const Case k : {Case{false, false}, Case{true, false}, Case{true, true}}) {
    const bool greet = k.greet, cancel = k.cancel;
    ScriptedServer server([greet](Peer& p) {
      if (greet) p.Send("220 ready\r\n");
      p.WaitClosed();
    });
    Client c(server.Address(), cancel ? 60 : 1);
    RequestMessage(c.message);
    if (cancel) QTimer::singleShot(300, [&] { c.smtp.Cancel(); });
    SCOPED_TRACE(std::string(greet ? "greeted" : "silent") + (cancel ? ", canceled" : ""));
    // Any other exception escapes and fails the test.
    if (cancel) {
      EXPECT_EQ(Raised<ECanceledError>([&] { c.smtp.Send(); }), "Operation has been canceled");
      EXPECT_EQ(c.log, "Open|Cancel|Closing|Closed|Error Operation has been canceled");
    } else {
      EXPECT_EQ(Raised<ETimedOutError>([&] { c.smtp.Send(); }), "Operation timed out");
      EXPECT_EQ(c.log, "Open|Error Operation timed out|Closing|Closed");
    }
    EXPECT_FALSE(c.smtp.Connected());
  }
}

TEST_F(SmtpScriptedTest, LineBreakInAddressIsRefusedBeforeAnythingIsSent) {
  ScriptedServer server([&server](Peer& p) { RunSmtp(p, server, "220 ready\r\n"); }, 3);
  for (const char* bad :
       {"victim@example.org>\r\nRCPT TO:<other@example.org", "a@b\nDATA", "x@y\r"}) {
    Client c(server.Address());
    RequestMessage(c.message);
    c.message.BCC().AddAddress(bad, "");
    EXPECT_EQ(Raised<ESocketError>([&] {
                c.smtp.Connect();
                c.smtp.Send();
              }),
              "Line breaks are not allowed in a server name or mail address");
    EXPECT_FALSE(c.smtp.Connected());
    // Also when the message changes after connecting.
    c.message.BCC().Clear();
    c.smtp.Connect();
    c.message.BCC().AddAddress(bad, "");
    EXPECT_THROW(c.smtp.Send(), ESocketError);
  }
  server.Join();
  for (const auto& l : server.Lines()) {
    EXPECT_EQ(l.find("MAIL"), std::string::npos) << l;
    EXPECT_EQ(l.find("RCPT"), std::string::npos) << l;
  }
}

TEST_F(SmtpScriptedTest, MissingMessageOrAddresses) {
  ScriptedServer server([&server](Peer& p) { RunSmtp(p, server, "220 ready\r\n"); }, 2);
  Client c(server.Address());
  c.smtp.MailMessage = nullptr;
  EXPECT_EQ(Raised<ESocketError>([&] { c.smtp.Send(); }), "MailMessage property must be assigned");
  c.smtp.MailMessage = &c.message;
  c.message.Recipients().AddAddress("r@example.org", "");
  EXPECT_EQ(Raised<EMessageError>([&] { c.smtp.Send(); }), "The address of sender is required");
  EXPECT_FALSE(c.smtp.Connected());
  c.smtp.Server = "";
  EXPECT_EQ(Raised<ESocketError>([&] { c.smtp.Send(); }), "Server property is required");
}

// After a failed Connect the next request opens a connection of its own, to
// the server the settings name by then.
TEST_F(SmtpScriptedTest, FailedConnectLeavesNoConnectionBehind) {
  ScriptedServer refusing([&refusing](Peer& p) {
    RunSmtp(p, refusing, "220 ready\r\n", [](const std::string& l) {
      return l.rfind("HELO", 0) == 0 ? std::optional<std::string>("501 no\r\n") : std::nullopt;
    });
  });
  ScriptedServer other([&other](Peer& p) { RunSmtp(p, other, "220 other\r\n"); });
  Client c(refusing.Address());
  RequestMessage(c.message);
  EXPECT_THROW(c.smtp.Connect(), ESocketError);
  EXPECT_FALSE(c.smtp.Connected());
  c.smtp.Server = other.Address();
  c.smtp.Connect();
  c.smtp.Send();
  other.Join();
  refusing.Join();
  EXPECT_EQ(other.Lines().at(1), "MAIL FROM:<user@example.org>");
  for (const auto& l : refusing.Lines()) EXPECT_EQ(l.rfind("MAIL", 0), std::string::npos);
}

TEST_F(SmtpRealServerTest, DeliversOnceTheServerIsUpAgain) {
  const std::uint16_t port = [] {
    RealSmtpServer probe;
    return probe.port();
  }();
  Client c("127.0.0.1:" + std::to_string(port));
  RequestMessage(c.message);
  EXPECT_EQ(Raised<ESocketError>([&] { c.smtp.Connect(); }),
            "[10061] Connection refused (127.0.0.1 port " + std::to_string(port) + ")");
  RealSmtpServer server({"--port", std::to_string(port)});
  c.smtp.Connect();
  c.smtp.Send();
  EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(SmtpScriptedTest, ASecondClientLeavesTheFirstConnectionAlone) {
  ScriptedServer server([&server](Peer& p) { RunSmtp(p, server, "220 ready\r\n"); });
  Client first(server.Address());
  RequestMessage(first.message);
  first.smtp.Connect();
  { Client second(server.Address()); }
  first.smtp.Send();
  EXPECT_NE(first.log.find("MailSent"), std::string::npos) << first.log;
}

}  // namespace
