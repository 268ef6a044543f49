// The request dispatcher end to end below the windows: real SMTP client,
// real SMTP server (aiosmtpd), real history file and debug log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "app/request_sender.h"
#include "app/smtp_settings.h"
#include "base/helpers.h"
#include "core/dispatcher.h"
#include "tests/net/net_support.h"
#include "tests/platform/temp_folder.h"

namespace {

// Records what the dispatcher shows; answers the confirmation as told.
class RecordingUi : public TRequestUi {
 public:
  TAnswer answer = TAnswer::Yes;
  std::vector<std::string> calls;
  std::function<void()> onSetStatus;
  std::string status;
  int selected = -1;

  bool stopping = false;
  std::function<void()> onConfirm;

  TAnswer Confirm(const std::string& question) override {
    calls.push_back("confirm:" + question);
    if (onConfirm) onConfirm();
    return answer;
  }
  bool Stopping() const override { return stopping; }
  void OpenProgress(const std::string& label) override { calls.push_back("open:" + label); }
  void SetProgress(int position) override { calls.push_back("pos:" + std::to_string(position)); }
  void CloseProgress() override { calls.push_back("close"); }
  void SetStatus(const std::string& s) override {
    status = s;
    DebugLog(s);
    if (onSetStatus) onSetStatus();
  }
  std::string StatusLine() const override { return status; }
  void ShowBriefNotice(const std::string& text) override { calls.push_back("notice:" + text); }
  void Beep() override { calls.push_back("beep"); }
  void SelectHistoryEntry(int index) override { selected = index; }
  void UnhandledException(const std::exception& e) override {
    calls.push_back(std::string("unhandled:") + e.what());
  }
  bool Has(const std::string& call) const {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
};

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApp();
    std::setlocale(LC_TIME, "C");
    SetProgramFolder(dir.path());
    old_cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    PutFile(dir / "uservers.dat",
            "[pages@req.test]\r\nType=0\r\nSubject=page request\r\nverbPagesHttp=GET\r\n"
            "[files@req.test]\r\nType=1\r\nSubject=file request\r\nverbBinaryHttp=SEND\r\n"
            "[ftp@req.test]\r\nType=2\r\nSubject=ftp request\r\n");
    PutFile(dir / "nbinary.ext", "htm\r\nhtml\r\n");
    PutFile(dir / "Test Message.Txt", "Hello from the test.\r\n");
    servers.Load();
    client.MailMessage = &message;
    client.SetWinsockLoaded(true);
    client.TimeOut = 10;
    settings.Email = "me@home.test";
    settings.Smtp = smtp.Address();
    old_box = SetErrorBox([this](const std::string& t) { boxes.push_back(t); });
    std::filesystem::remove(DebugLogPath());
  }
  void TearDown() override {
    SetErrorBox(old_box);
    std::filesystem::current_path(old_cwd);
  }

  // Debug log lines without their date and time.
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    std::istringstream text(GetFile(DebugLogPath()));
    for (std::string line; std::getline(text, line);) {
      if (line.ends_with('\r')) line.pop_back();
      const auto colon = line.find(": ");
      lines.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
    }
    return lines;
  }

  TempFolder dir;
  std::filesystem::path old_cwd;
  RealSmtpServer smtp;
  TServerList servers{dir / "TOLVANE.INI"};
  TmsMessage message;
  TmsSMTP client;
  TSmtpRequestSender sender{client};
  THistory history{dir / "History.Dat"};
  RecordingUi ui;
  TDispatchSettings settings;
  std::vector<std::string> boxes;
  ErrorBox old_box;
  TRequestDispatcher dispatcher{message,
                                sender,
                                history,
                                ui,
                                [this] { return settings; },
                                [this] { return servers.Choice(); }};
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

  EXPECT_EQ(ui.calls.front(), "open:...p://host/docs/page.html#part2");
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

TEST_F(DispatchTest, DisabledOrIncompleteOnlyLogsTheChange) {
  dispatcher.ClipboardChanged("http://host/a.html", true, false);
  dispatcher.ClipboardChanged("http://host/a.html", false, true);
  EXPECT_EQ(Log(), (std::vector<std::string>{"CB change detected", "CB change detected"}));
  EXPECT_TRUE(smtp.Messages().empty());
}

TEST_F(DispatchTest, ShapeFilterAndSlashRule) {
  using namespace std::string_literals;
  // A NUL would cut the mail's request line while the history kept it all.
  for (const std::string& text : {"http://a b/"s, " http://a/"s, "http://a/\n"s, "http://a/\r"s,
                                  ""s, "http://a/x\0.exe"s, "http://tab\there/"s}) {
    dispatcher.DispatchRequest(text, true);
    EXPECT_NE(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Sent) << text;
  }
  EXPECT_TRUE(smtp.Messages().empty());
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(history.Count(), 0);

  dispatcher.DispatchRequest("http://host", true);
  dispatcher.DispatchRequest("news:comp.lang.misc", true);
  auto got = smtp.Messages();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[0].data.find("GET http://host/\r\n"), std::string::npos);
  EXPECT_NE(got[1].data.find("news:comp.lang.misc/"), std::string::npos);
  EXPECT_EQ(THistory::HistoryUrl(history.Items()[0]), "news:comp.lang.misc/");
}

TEST_F(DispatchTest, DuplicateRules) {
  TDateTime now = Now();
  dispatcher.Clock = [&] { return now; };
  dispatcher.DispatchRequest("http://host/a.html", true);
  ASSERT_EQ(smtp.Messages().size(), 1u);

  now += 2.9 / 86400;
  dispatcher.DispatchRequest("http://host/a.html", true);
  EXPECT_EQ(dispatcher.LastError(), "Fast Duplicate Discarded");
  EXPECT_EQ(Log().back(), "Fast Duplicate Discarded");

  now += 0.2 / 86400;  // past three seconds: a request again
  dispatcher.DispatchRequest("http://host/a.html", true);
  EXPECT_EQ(smtp.Messages().size(), 2u);

  settings.CheckHistory = true;
  now += 10.0 / 86400;
  dispatcher.DispatchRequest("http://host/b.html", true);
  dispatcher.DispatchRequest("http://host/a.html", true);
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Refused);
  EXPECT_TRUE(ui.Has("beep") && ui.Has("notice:Duplicate Request"));
  EXPECT_EQ(ui.selected, 1);
  EXPECT_EQ(smtp.Messages().size(), 3u);

  // "Request Again" skips the history rule.
  dispatcher.RequestAgain(1);
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Sent);
  EXPECT_EQ(smtp.Messages().size(), 4u);
}

TEST_F(DispatchTest, ConfirmationModes) {
  settings.Confirm = 0;
  ui.answer = TRequestUi::TAnswer::No;
  dispatcher.DispatchRequest("http://host/a.html", true);
  EXPECT_TRUE(ui.Has("confirm:Request http://host/a.html by e-mail?"));
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Declined);
  EXPECT_EQ(ui.calls.size(), 1u);  // no progress window
  EXPECT_EQ(history.Count(), 0);

  ui.answer = TRequestUi::TAnswer::Closed;  // closed without an answer: goes on
  dispatcher.DispatchRequest("http://host/a.html", true);
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Sent);

  settings.Confirm = 1;
  ui.calls.clear();
  ui.answer = TRequestUi::TAnswer::No;
  // A query or fragment after the extension still asks: the file is what counts.
  for (const char* url : {"http://host/pub/SETUP.EXE", "http://host/pub/a.zip?x=1",
                          "http://host/a.exe#top", "http://host/dir/", "http://host/x.zip/page"})
    dispatcher.DispatchRequest(url, true);
  int asked = static_cast<int>(std::count_if(ui.calls.begin(), ui.calls.end(),
                                             [](auto& c) { return c.rfind("confirm:", 0) == 0; }));
  EXPECT_EQ(asked, 3);
  EXPECT_TRUE(ui.Has("confirm:Request http://host/pub/a.zip?x=1 by e-mail?"));
  EXPECT_EQ(smtp.Messages().size(), 3u);
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
  ASSERT_EQ(boxes.size(), 1u);
  // (The status is "Close" by now: the goodbye after the refusal went well.)
  EXPECT_EQ(boxes[0].substr(boxes[0].find('\n')), "\n554 5.7.1 Relay access denied");

  // ...or the socket's error.
  settings.Smtp = "127.0.0.1:1";  // nothing listens there
  ui.status = "Close";
  dispatcher.DispatchRequest("http://host/a.html", true);
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Failed);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1],
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

TEST_F(DispatchTest, ChangeDuringASendWaitsForItAndIsNotLost) {
  bool injected = false;
  ui.onSetStatus = [&] {
    if (ui.status == "Sending" && !injected) {
      injected = true;
      dispatcher.ClipboardChanged("ftp://ftp.test/pub/x.zip", true, true);
      // Still the first request's message.
      EXPECT_EQ(message.Recipients().Items(0).Address(), "pages@req.test");
      EXPECT_EQ(message.Body().at(0), "GET http://host/first.html");
    }
  };
  PutFile(dir / "Test Message.Flg", " ");
  dispatcher.ClipboardChanged("http://host/first.html", true, true);
  auto got = smtp.Messages();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].rcpt_tos, std::vector<std::string>{"pages@req.test"});
  EXPECT_EQ(got[1].rcpt_tos, std::vector<std::string>{"ftp@req.test"});
  ASSERT_EQ(history.Count(), 2);
  EXPECT_EQ(THistory::HistoryUrl(history.Items()[0]), "ftp://ftp.test/pub/x.zip");
}

TEST_F(DispatchTest, UnreadableListReachesTheHandlerAndIsReported) {
  std::filesystem::remove(dir / "nbinary.ext");
  std::filesystem::create_directory(dir / "nbinary.ext");  // exists, cannot be read
  std::string reported;
  dispatcher.OnDispatched = [&](const std::string& url, TRequestDispatcher::TOutcome o) {
    reported = url + (o == TRequestDispatcher::TOutcome::Failed ? " failed" : " other");
  };
  dispatcher.ClipboardChanged("http://host/a.zip", true, true);
  EXPECT_EQ(reported, "http://host/a.zip failed");
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].rfind("unhandled:", 0), 0u);
  // No test message for that notice, and nothing sent.
  EXPECT_TRUE(smtp.Messages().empty());
  EXPECT_FALSE(dispatcher.RequestBusy());
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
  EXPECT_TRUE(boxes.empty());
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

// Accepted is sent: a goodbye that is never answered is logged, not shown.
TEST_F(OutboxDispatchTest, AnUnansweredQuitAfterAcceptanceIsASend) {
  ScriptedServer silent([&](Peer& p) {
    RunSmtp(p, silent, "220 s\r\n", [](const std::string& line) -> std::optional<std::string> {
      if (line != "QUIT") return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
      return "";
    });
  });
  client.TimeOut = 1;
  settings.Smtp = silent.Address();
  dispatcher.DispatchRequest("http://host/quiet.html", true);
  silent.Join();
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Sent);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(outbox.Count(), 0);
  EXPECT_EQ(THistory::HistoryUrl(history.Items()[0]), "http://host/quiet.html");
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

TEST_F(DispatchTest, StopWhileAskingIsANoAndDropsTheQueue) {
  settings.Confirm = 0;
  // The stop ends the box's loop, which reports no answer.
  ui.answer = TRequestUi::TAnswer::Closed;
  ui.onConfirm = [&] {
    ui.onConfirm = nullptr;
    dispatcher.ClipboardChanged("http://host/queued.html", true, true);
    dispatcher.DispatchRequest("news:also", true);
    ui.stopping = true;
  };
  dispatcher.ClipboardChanged("http://host/asked.html", true, true);
  EXPECT_EQ(dispatcher.LastOutcome(), TRequestDispatcher::TOutcome::Stopped);
  EXPECT_TRUE(smtp.Messages().empty());  // neither requests nor the test message
  EXPECT_EQ(history.Count(), 0);
  const auto log = Log();
  for (const char* url : {"http://host/asked.html", "http://host/queued.html", "news:also/"}) {
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string("Request dropped at stop: ") + url), 1)
        << url;
  }
  EXPECT_FALSE(dispatcher.RequestBusy());
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
  EXPECT_TRUE(boxes.empty());
}

TEST_F(DispatchTest, ProgressLabelCutsByCharacters) {
  PutFile(dir / "Test Message.Flg", " ");
  const std::string url = "http://host/" + std::string(40, 'a') + "/\xC3\xA9t\xC3\xA9.htm";
  dispatcher.DispatchRequest(url, true);
  // 29 characters: each two-byte letter counts once.
  EXPECT_EQ(ui.calls.front(), "open:..." + std::string(21, 'a') + "/\xC3\xA9t\xC3\xA9.htm");
}

}  // namespace
