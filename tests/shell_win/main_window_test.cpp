// The main window made for real from its template, under Wine on an X
// server: values through the controls, Ok's checks, the history list and
// its menu over a real request stack, the version label from the resource.
#include "shell/win/main_window.h"

#include <memory>
#include <vector>

#include "app/history_rows.h"
#include "app/request_stack.h"
#include "app/settings_checks.h"
#include "core/outbox.h"
#include "platform/autostart.h"
#include "shell/win/version_info.h"
#include "shell/win/window_ids.h"
#include "tests/core/dispatch_support.h"
#include "tests/shell_win/window_support.h"

namespace {

class MainWindowTest : public ProgramFolderTest {
 protected:
  void SetUp() override {
    ProgramFolderTest::SetUp();
    if (!std::getenv("DISPLAY")) return;
    stack = std::make_unique<TRequestStack>(ui, [] { return TDispatchSettings{}; });
    window = std::make_unique<TWinMainWindow>(GetModuleHandleW(nullptr), *stack);
  }
  void TearDown() override {
    window.reset();
    ProgramFolderTest::TearDown();
  }
  HWND Dialog() const { return window->Handle(); }

  RecordingUi ui;
  std::unique_ptr<TRequestStack> stack;
  std::unique_ptr<TWinMainWindow> window;
};

TEST_F(MainWindowTest, ValuesComeBackThroughTheControlsWithKeysTheyLack) {
  SKIP_WITHOUT_DISPLAY();
  TSettings in;
  in.Email = "Me <me@example.org>";
  in.Account.Smtp = "mail.example.org:587";
  in.Account.Security = TSmtpSecurity::StartTls;
  in.Account.User = "me";
  in.Account.PasswordCommand = "pass show mail";  // no control
  in.Confirm = 1;
  in.Enabled = 0;
  in.CheckHistory = false;
  in.KeepFailed = false;
  in.Collect = true;
  in.SendAt = "06:30";
  in.TrayIconDim = true;       // no control
  in.DialEntry = "Gone line";  // kept listed though the phone book lacks it
  in.HangUp = false;
  window->SetValues(in);
  EXPECT_EQ(ItemText(Dialog(), IDC_EMAIL), in.Email);
  EXPECT_EQ(IsDlgButtonChecked(Dialog(), IDC_CONFIRM_ZIP), BST_CHECKED);

  // What the user changes comes back, the rest as given.
  SetItemText(Dialog(), IDC_USER, "  other  ");
  CheckDlgButton(Dialog(), IDC_KEEP_FAILED, BST_CHECKED);
  const TSettings out = window->Values();
  EXPECT_EQ(out.Email, in.Email);
  EXPECT_EQ(out.Account.Smtp, in.Account.Smtp);
  EXPECT_EQ(out.Account.Security, TSmtpSecurity::StartTls);
  EXPECT_EQ(out.Account.User, "other");
  EXPECT_EQ(out.Account.PasswordCommand, "pass show mail");
  EXPECT_EQ(out.Confirm, 1);
  EXPECT_EQ(out.Enabled, 0);
  EXPECT_FALSE(out.CheckHistory);
  EXPECT_TRUE(out.KeepFailed);
  EXPECT_TRUE(out.Collect);
  EXPECT_EQ(out.SendAt, "06:30");
  EXPECT_TRUE(out.TrayIconDim);
  EXPECT_EQ(out.DialEntry, "Gone line");
  EXPECT_FALSE(out.HangUp);

  // The password is never shown filled, and is handed over once.
  SetItemText(Dialog(), IDC_PASSWORD, "secret");
  EXPECT_EQ(window->TakePassword(), "secret");
  EXPECT_EQ(window->TakePassword(), "");
  SetItemText(Dialog(), IDC_PASSWORD, "typed");
  window->SetValues(in);
  EXPECT_EQ(ItemText(Dialog(), IDC_PASSWORD), "");
}

// What a user does to the window's frame and keys: Enter is Ok, Esc and the
// close box are Cancel, minimising hides it (the tray icon brings it back).
TEST_F(MainWindowTest, EnterOkEscapeAndCloseCancelMinimiseHides) {
  SKIP_WITHOUT_DISPLAY();
  std::vector<std::string> heard;
  window->OnOk = [&] { heard.push_back("ok"); };
  window->OnCancel = [&] { heard.push_back("cancel"); };
  window->ShowCentred();
  ASSERT_TRUE(window->Visible());
  HWND email = GetDlgItem(Dialog(), IDC_EMAIL);
  SetFocus(email);
  const auto press = [&](WPARAM key) {
    MSG msg{email, WM_KEYDOWN, key, 0, 0, {}};
    EXPECT_TRUE(window->PreTranslate(&msg));
  };
  press(VK_RETURN);
  press(VK_ESCAPE);
  SendMessageW(Dialog(), WM_CLOSE, 0, 0);
  EXPECT_EQ(heard, (std::vector<std::string>{"ok", "cancel", "cancel"}));
  EXPECT_TRUE(window->Visible());  // the tray app decides what Cancel does

  SendMessageW(Dialog(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_FALSE(window->Visible());
  EXPECT_FALSE(IsIconic(Dialog()));
  // Hidden, the close box tells no one.
  SendMessageW(Dialog(), WM_CLOSE, 0, 0);
  EXPECT_EQ(heard.size(), 3u);
}

// The box writes and removes the Run key's value, and shows what is there.
TEST_F(MainWindowTest, AutostartBoxWritesTheRunKey) {
  SKIP_WITHOUT_DISPLAY();
  const char* id = "org.tolvane.Tolvane";
  DisableAutostart(id);
  window->ShowCentred();
  EXPECT_NE(IsDlgButtonChecked(Dialog(), IDC_AUTOSTART), BST_CHECKED);
  const auto click = [&](bool on) {
    CheckDlgButton(Dialog(), IDC_AUTOSTART, on ? BST_CHECKED : BST_UNCHECKED);
    SendMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(IDC_AUTOSTART, BN_CLICKED), 0);
  };
  click(true);
  EXPECT_TRUE(AutostartEnabled(id));
  EXPECT_EQ(IsDlgButtonChecked(Dialog(), IDC_AUTOSTART), BST_CHECKED);
  click(false);
  EXPECT_FALSE(AutostartEnabled(id));
  // Written elsewhere while the window was hidden: showing it tells.
  window->Hide();
  EnableAutostart(id, "C:\\tolvane.exe");
  window->ShowCentred();
  EXPECT_EQ(IsDlgButtonChecked(Dialog(), IDC_AUTOSTART), BST_CHECKED);
  DisableAutostart(id);
}

// The drop-down lists show the server list, a choice goes into it, and
// Values() names the servers chosen.
TEST_F(MainWindowTest, ServerListsFillFromTheListAndChoose) {
  SKIP_WITHOUT_DISPLAY();
  PutFile(dir / "uservers.dat",
          "[one@example.org]\r\nType=0\r\nverbPagesHttp=ONE\r\n"
          "[two@example.org]\r\nType=0\r\nverbPagesHttp=TWO\r\n");
  window->LoadServers();
  HWND pages = GetDlgItem(Dialog(), IDC_PAGES);
  EXPECT_EQ(SendMessageW(pages, CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(window->Values().PagesServer, "one@example.org");

  SendMessageW(pages, CB_SETCURSEL, 1, 0);
  SendMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(IDC_PAGES, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(pages));
  EXPECT_EQ(window->Values().PagesServer, "two@example.org");
  EXPECT_EQ(window->Servers.Choice().PagesServer, "two@example.org");
  EXPECT_EQ(window->Servers.Choice().PagesVerb, "TWO ");
}

TEST_F(MainWindowTest, OkChecksNameTheFieldAndPutTheFocusThere) {
  SKIP_WITHOUT_DISPLAY();
  TSettings s;
  s.Email = "me@example.org";
  s.Account.Smtp = " \t";
  window->SetValues(s);
  bool ok = true;
  std::string box = AnswerBox([&] { ok = window->CheckRequiredFields(); }, Dialog());
  EXPECT_FALSE(ok);
  EXPECT_NE(box.find(EmptyFieldText(kSmtpCaption)), std::string::npos) << box;
  EXPECT_TRUE(window->Visible());
  EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_SMTP);

  s.Email = "not an address";
  s.Account.Smtp = "mail.example.org";
  window->SetValues(s);
  EXPECT_TRUE(window->CheckRequiredFields());
  box = AnswerBox([&] { ok = window->CheckAddressField(); }, Dialog());
  EXPECT_FALSE(ok);
  EXPECT_NE(box.find("\"not an address\" in A&ddress is not an e-mail address"), std::string::npos)
      << box;
  EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_EMAIL);
}

TEST_F(MainWindowTest, SendAtTakesEmptyOrATimeOfDay) {
  SKIP_WITHOUT_DISPLAY();
  TSettings s;
  for (const char* good : {"", "06:30", "23:59"}) {
    s.SendAt = good;
    window->SetValues(s);
    EXPECT_TRUE(window->CheckSendAtField()) << good;
  }
  s.SendAt = "24:00";
  window->SetValues(s);
  bool ok = true;
  const std::string box = AnswerBox([&] { ok = window->CheckSendAtField(); }, Dialog());
  EXPECT_FALSE(ok);
  EXPECT_NE(box.find(NotATimeText("24:00")), std::string::npos) << box;
  EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_SEND_AT);
}

TEST_F(MainWindowTest, KeptRequestsGreyAboveHistoryAndDiscardLeavesTheOutbox) {
  SKIP_WITHOUT_DISPLAY();
  stack->History.AddHistoryEntry("www@example.org", "http://old.example/", 0);
  stack->Outbox.Keep("http://kept.example/a", "www@example.org", 0, "no line");
  stack->Outbox.Keep("http://kept.example/b", "www@example.org", 0, "no line");
  window->NextTry = [] { return std::string("07:15"); };
  int refills = 0;
  window->OnHistoryShown = [&] { ++refills; };
  window->ShowHistory();
  EXPECT_EQ(refills, 1);

  HWND list = GetDlgItem(Dialog(), IDC_HISTORY);
  ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 3);
  const auto row = [&](int i) {
    wchar_t text[1024] = {};
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    return Utf8Text(text);
  };
  const auto kept = [&](int i) {
    return SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0) == 1;
  };
  EXPECT_EQ(row(0), KeptRowText(stack->Outbox.Entries()[0], "07:15"));
  EXPECT_NE(row(0).find("; next try 07:15"), std::string::npos) << row(0);
  EXPECT_TRUE(kept(0));
  EXPECT_TRUE(kept(1));
  EXPECT_EQ(row(2), stack->History.Items()[0]);
  EXPECT_FALSE(kept(2));

  // The menu's Discard on the second kept row: gone from the file as well.
  SendMessageW(list, LB_SETCURSEL, 1, 0);
  SendMessageW(Dialog(), WM_COMMAND, IDM_DISCARD, 0);
  TOutbox reread(stack->Outbox.Path());
  reread.Load();
  ASSERT_EQ(reread.Count(), 1);
  EXPECT_EQ(reread.Entries()[0].Url, "http://kept.example/a");
  EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(refills, 2);

  // A history row: Discard does nothing, Delete from History deletes.
  window->SelectHistoryEntry(0);
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 1);
  SendMessageW(Dialog(), WM_COMMAND, IDM_DISCARD, 0);
  EXPECT_EQ(stack->Outbox.Count(), 1);
  SendMessageW(Dialog(), WM_COMMAND, IDM_DELETE_HISTORY, 0);
  EXPECT_EQ(stack->History.Count(), 0);
  EXPECT_EQ(refills, 3);
  EXPECT_TRUE(shown.empty());
}

TEST_F(MainWindowTest, VersionLabelReadsTheProgramsOwnResource) {
  SKIP_WITHOUT_DISPLAY();
  EXPECT_EQ(ItemText(Dialog(), IDC_VERSION), VersionPrefix() + " " + TOLVANE_FILE_VERSION);

  wchar_t self[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  const std::string exe = Utf8Text(std::wstring_view(self, n));
  EXPECT_EQ(FileVersionValue(exe, "080904E4", "ProductName"), "Tolvane");
  EXPECT_EQ(FileVersionValue(exe, "040904B0", "FileVersion"), kErrorRetrieving);
  EXPECT_EQ(FileVersionValue(exe, "080904E4", "NoSuchKey"), kErrorRetrieving);
  EXPECT_EQ(FileVersionValue(exe, "080904E4", "Comments"), kNoVersionInfo);
  PutFile(dir / "plain.txt", "no resources here");
  EXPECT_EQ(FileVersionValue(dir / "plain.txt", "080904E4", "FileVersion"), kNoDataAvailable);
}

}  // namespace
