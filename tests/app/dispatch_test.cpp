// The request dispatcher end to end below the windows: real SMTP client,
// real SMTP server (aiosmtpd), real history file and debug log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

#include "app/request_sender.h"
#include "app/smtp_settings.h"
#include "base/helpers.h"
#include "tests/core/dispatch_support.h"
#include "tests/net/net_support.h"

namespace {

class DispatchTest : public DispatchFolderTest {
 protected:
  void SetUp() override {
    DispatchFolderTest::SetUp();
    EnsureApp();
    client.MailMessage = &message;
    client.SetWinsockLoaded(true);
    client.TimeOut = 10;
    settings.Smtp = smtp.Address();
  }

  RealSmtpServer smtp;
  TmsSMTP client;
  TSmtpRequestSender sender{client};
  TRequestDispatcher dispatcher{message, sender, history, ui, read_settings, read_servers};
};

TEST_F(DispatchTest, ClipboardRequestIsSentRecordedAndLoggedInOrder) {
  dispatcher.ClipboardChanged("http://host/docs/page.html#part2", true, true);
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Sent);
  EXPECT_FALSE(dispatcher.RequestBusy());

  auto got = smtp.Messages();
  ASSERT_EQ(got.size(), 2u);  // the request, then the one-time test message
  EXPECT_EQ(got[0].mail_from, "me@home.test");
  EXPECT_EQ(got[0].rcpt_tos, std::vector<std::string>{"pages@req.test"});
  // The fragment stays in the history but never reaches the request server.
  EXPECT_NE(got[0].data.find("GET http://host/docs/page.html\r\n"), std::string::npos);
  EXPECT_NE(got[0].data.find("Subject:  page request"), std::string::npos);
  EXPECT_EQ(got[1].rcpt_tos, std::vector<std::string>{"me@home.test"});
  EXPECT_NE(got[1].data.find("Test Message from your copy of Tolvane"), std::string::npos);
  EXPECT_NE(got[1].data.find("Hello from the test."), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "Test Message.Flg"));

  ASSERT_EQ(history.Count(), 1);
  EXPECT_EQ(history.Items()[0].rfind("http://host/docs/page.html#part2 via pages@req.test on ", 0),
            0u);
  EXPECT_NE(GetFile(dir / "History.Dat").find("#part2 via pages@req.test"), std::string::npos);

  auto log = Log();
  std::vector<std::string> head(log.begin(), log.begin() + 10);
  EXPECT_EQ(head, (std::vector<std::string>{
                      "CB change detected", "To: pages@req.test", "Subject: page request",
                      "Body: GET http://host/docs/page.html", "Requesting", "Openning",
                      "Connection Open", "Preparing", "Sending", "Progress"}));
  std::vector<std::string> tail(log.end() - 3, log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Sent", "Closing", "Close"}));
  // The quiet test message adds nothing to the log.
  EXPECT_EQ(std::count(log.begin(), log.end(), "Sent"), 1);

  EXPECT_TRUE(ui.Has("pos:12") && ui.Has("pos:25") && ui.Has("pos:100") && ui.Has("close"));

  // The next change sends no second test message.
  dispatcher.ClipboardChanged("http://host/other.html", true, true);
  EXPECT_EQ(smtp.Messages().size(), 3u);
}

// A copied address with non-ASCII characters reaches a real server as an
// all-ASCII mail, and every mail carries a date and its own id.
TEST_F(DispatchTest, NonAsciiRequestIsAsciiOnTheWireAndDated) {
  dispatcher.ClipboardChanged("http://example.test/Stra\xC3\x9F" "e.html", true, true);
  ASSERT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Sent);
  auto got = smtp.Messages();
  ASSERT_EQ(got.size(), 2u);
  for (char c : got[0].data) EXPECT_LT(static_cast<unsigned char>(c), 128);
  EXPECT_NE(got[0].data.find("GET http://example.test/Stra%C3%9F" "e.html"), std::string::npos);
  std::set<std::string> ids;
  for (const auto& mail : got) {
    EXPECT_NE(mail.data.find("\r\nDate: "), std::string::npos);
    const auto at = mail.data.find("\r\nMessage-ID: <");
    ASSERT_NE(at, std::string::npos);
    ids.insert(mail.data.substr(at, mail.data.find('>', at) - at));
  }
  EXPECT_EQ(ids.size(), 2u);
  // The history keeps what the user copied.
  EXPECT_EQ(history.Items()[0].rfind("http://example.test/Stra\xC3\x9F" "e.html via ", 0), 0u);
}

TEST_F(DispatchTest, FailedSendShowsTheBoxWithTheErrorAndRecordsNothing) {
  // The error that ended the request stands on a line of its own: a
  // refusing server's reply...
  ScriptedServer refusing([&refusing](Peer& p) {
    RunSmtp(p, refusing, "220 mx.test\r\n", [](const std::string& l) {
      return l.rfind("RCPT", 0) == 0
                 ? std::optional<std::string>("554 5.7.1 Relay access denied\r\n")
                 : std::nullopt;
    });
  });
  settings.Smtp = refusing.Address();
  Checkpoint = 77;
  dispatcher.DispatchRequest("http://host/b.html", true);
  ASSERT_EQ(shown.size(), 1u);
  // (The status is "Close" by now: the goodbye after the refusal went well.)
  EXPECT_EQ(shown[0].substr(shown[0].find('\n')), "\n554 5.7.1 Relay access denied");

  // ...or the socket's error.
  settings.Smtp = "127.0.0.1:1";  // nothing listens there
  ui.status = "Close";
  dispatcher.DispatchRequest("http://host/a.html", true);
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Failed);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1],
            "Error in Request Failed.77 with The last successful operation was <Openning>\n"
            "[10061] Connection refused (127.0.0.1 port 1)");
  EXPECT_EQ(ui.calls.back(), "close");
  EXPECT_EQ(history.Count(), 0);
  EXPECT_FALSE(dispatcher.RequestBusy());

  // Copying it again retries it: the failed connect left no socket behind.
  settings.Smtp = smtp.Address();
  dispatcher.DispatchRequest("http://host/a.html", true);
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Sent);
  EXPECT_EQ(smtp.Messages().size(), 1u);
}

// The sign-in settings reach the client before it connects; a password that
// is stored nowhere ends the request before anything is sent.
TEST_F(DispatchTest, SignInSettingsAreSetBeforeEachSend) {
  TSmtpSettings account;
  account.User = "me@home.test";
  account.Auth = "plain";
  account.PasswordCommand = "printf 'pw1\\n'";
  sender.Settings = [&] { return account; };
  RealSmtpServer signing({"--auth", "me@home.test:pw1", "--plain-auth"});
  settings.Smtp = signing.Address();
  dispatcher.DispatchRequest("http://host/a.html", true);
  // The server wants the sign-in: a delivery shows the user and password arrived.
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Sent);
  EXPECT_EQ(client.AuthMechanism, "PLAIN");

  account.PasswordCommand = "exit 3";
  dispatcher.DispatchRequest("http://host/b.html", true);
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Failed);
  EXPECT_EQ(dispatcher.LastError(), "The password command failed (exit code 3)");
  EXPECT_EQ(signing.Messages().size(), 1u);
  // No password in the debug log, whatever happened.
  EXPECT_EQ(GetFile(DebugLogPath()).find("pw1"), std::string::npos);
}

// The outbox: what failed for a reason that may pass waits and goes later.
class OutboxDispatchTest : public DispatchTest {
 protected:
  void SetUp() override {
    DispatchTest::SetUp();
    settings.KeepFailed = true;
    dispatcher.UseOutbox(&outbox);
    dispatcher.OnOutboxChanged = [this] { ++changes; };
  }
  void ServerDown() { settings.Smtp = "127.0.0.1:" + std::to_string(ClosedPort()); }

  TOutbox outbox{dir / "Outbox.Dat"};
  int changes = 0;
};

TEST_F(OutboxDispatchTest, WaitingRequestsFollowTheNextOneSentInTheirOrder) {
  ServerDown();
  dispatcher.DispatchRequest("http://host/1.html", true);
  dispatcher.DispatchRequest("http://host/2.html", true);
  dispatcher.DispatchRequest("http://host/1.html", true);  // kept once
  ASSERT_EQ(outbox.Count(), 2);
  EXPECT_TRUE(ui.Has("notice:Request kept, will be sent later"));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(Log().back(), "Request kept: [10061] Connection refused (127.0.0.1 port " +
                              settings.Smtp.substr(settings.Smtp.find(':') + 1) + ")");
  EXPECT_EQ(changes, 3);

  settings.Smtp = smtp.Address();
  dispatcher.DispatchRequest("http://host/3.html", true);
  auto got = smtp.Messages();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_NE(got[0].data.find("host/3.html"), std::string::npos);
  EXPECT_NE(got[1].data.find("host/1.html"), std::string::npos);
  EXPECT_NE(got[2].data.find("host/2.html"), std::string::npos);
  EXPECT_EQ(outbox.Count(), 0);
}

// A kept address went through the slash rule once; sending it again must
// not add another slash, or it would never leave the outbox.
TEST_F(OutboxDispatchTest, KeptAddressesGoOnceAndLeave) {
  ServerDown();
  dispatcher.DispatchRequest("news:comp.lang.misc", true);
  dispatcher.DispatchRequest("http://host", true);
  ASSERT_EQ(outbox.Count(), 2);
  settings.Smtp = smtp.Address();
  dispatcher.FlushOutbox();
  dispatcher.FlushOutbox();
  auto got = smtp.Messages();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[0].data.find("news:comp.lang.misc/\r\n"), std::string::npos);
  EXPECT_NE(got[1].data.find("GET http://host/\r\n"), std::string::npos);
  EXPECT_EQ(outbox.Count(), 0);
  EXPECT_EQ(GetFile(dir / "Outbox.Dat"), "");
  EXPECT_EQ(THistory::HistoryUrl(history.Items()[1]), "news:comp.lang.misc/");
}

TEST_F(OutboxDispatchTest, UnconfirmedDeliveryWaitsForTheUser) {
  // The connection breaks after the message, before the server's answer.
  ScriptedServer cut([&](Peer& p) {
    RunSmtp(p, cut, "220 cut\r\n", [](const std::string& line) -> std::optional<std::string> {
      if (line == ".") return "";
      return std::nullopt;
    });
  });
  settings.Smtp = cut.Address();
  dispatcher.DispatchRequest("http://host/maybe.html", true);
  cut.Join();
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Kept);
  ASSERT_EQ(outbox.Count(), 1);
  EXPECT_EQ(outbox.Entries()[0].Reason, "delivery not confirmed");

  settings.Smtp = smtp.Address();
  dispatcher.FlushOutbox();
  dispatcher.DispatchRequest("http://host/other.html", true);
  ASSERT_EQ(smtp.Messages().size(), 1u);  // the other one only
  EXPECT_EQ(outbox.Count(), 1);

  // Sent on the user's word, and not asked about again.
  settings.Confirm = 0;
  ui.answer = RecordingUi::TAnswer::No;
  dispatcher.SendKept("http://host/maybe.html");
  ASSERT_EQ(smtp.Messages().size(), 2u);
  EXPECT_EQ(outbox.Count(), 0);
  EXPECT_EQ(THistory::HistoryUrl(history.Items()[0]), "http://host/maybe.html");
}

TEST_F(DispatchTest, TestMessageFlagGoesToTheSettingsFolderWhenHereIsReadOnly) {
  const std::filesystem::path config = dir / "config";
  std::filesystem::create_directories(config / "tolvane");
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  std::filesystem::current_path("/proc");  // not writable, not even by root
  dispatcher.ClipboardChanged("http://host/a.html", true, true);
  dispatcher.ClipboardChanged("http://host/b.html", true, true);
  ::unsetenv("XDG_CONFIG_HOME");
  const auto got = smtp.Messages();
  ASSERT_EQ(got.size(), 3u);  // two requests, one test message
  EXPECT_NE(got[1].data.find("Test Message from your copy of Tolvane"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(config / "tolvane" / "Test Message.Flg"));
  EXPECT_TRUE(shown.empty());
}

}  // namespace
