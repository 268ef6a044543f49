#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>

#include <QProcess>

#include "platform/autostart.h"
#include "platform/file_layout.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "shell/desktop_controls.h"
#include "shell/help.h"
#include "shell/main_window.h"
#include "shell/radio_group.h"
#include "shell/task_icon.h"
#include "shell/tips.h"
#include "shell/ui_style.h"
#include "shell/version_label.h"
#include "tests/support/private_keyring.h"
#include "window_fixture.h"

namespace {

constexpr char kServers[] =
    "[pages@one]\r\nType=0\r\nSubject=s\r\nverbPagesHttp= GET \r\nfilePagesHttp=\r\n"
    "[pages@two]\r\nType=0\r\nverbPagesHttp=SEND\r\n"
    "[bin@one]\r\nType=1\r\nverbBinaryHttp=BIN\r\n"
    "[ftp@one]\r\nType=2\r\n"
    "[ftp@two]\r\nType=2\r\n";

// A program folder with a server list and, unless told, complete settings.
struct Setup {
  explicit Setup(bool complete = true) {
    PutFile(f.program + "uservers.dat", kServers);
    if (complete) f.Settings();
  }
  TestFolders f;
};

QPoint Centred(const QWidget& w) {
  const QRect screen = w.screen()->geometry();
  return {(screen.width() - w.frameGeometry().width() + 1) / 2,
          (screen.height() - w.frameGeometry().height() + 1) / 2};
}

// Runs the event loop from `first` until the program ends; 7 if it never does.
int RunUntilExit(const std::function<void()>& first) {
  QTimer::singleShot(0, first);
  QTimer safety;
  safety.setSingleShot(true);
  QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  safety.start(10000);
  return QCoreApplication::exec();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void FirstStartShowsDefaultsAndAsksForTheAddressOnly() {
    Setup s(false);
    BoxAnswerer hand;
    StartedTray t;
    TfrmProps& w = t.w;
    // The tip of the day and the one box for the empty address.
    QCOMPARE(hand.texts.size(), std::size_t{1});
    QCOMPARE(hand.texts[0], std::string("The required field, A<u>d</u>dress is empty"));
    QVERIFY(!t.app.SettingsComplete());
    QVERIFY(w.isVisible());
    QCOMPARE(w.pos(), Centred(w));
    QCOMPARE(w.txtEmail->text(), QString());
    QCOMPARE(w.optConfirm->ItemIndex(), 2);
    QCOMPARE(w.optEnabled->ItemIndex(), 0);
    QVERIFY(w.chkCheckHistory->isChecked());
    // A new settings file keeps failed requests, and says so for the next load.
    QVERIFY(w.chkKeepFailed->isChecked());
    QCOMPARE(ReadProfileString(s.f.Ini(), "General", "KeepFailed"), std::string("1"));
    QVERIFY(!t.app.Dim());
    QVERIFY(t.app.Tips().Enabled);
    QVERIFY(w.chkShowTips->isChecked());
    QCOMPARE(t.app.Icon().ToolTip(), std::string("Tolvane"));
    // The tip window came first and stepped once; LocalRoot was written.
    QCOMPARE(t.app.Tips().Number, 1);
    QCOMPARE(ReadProfileString(s.f.Ini(), "General", "LocalRoot"), s.f.program);
    const std::string log = s.f.Log();
    QVERIFY(log.find("Cmd:") != std::string::npos);
    QVERIFY(log.find(w.VersionLabel2->GetInfo()) != std::string::npos);
    QVERIFY(log.find("Log trimmed") != std::string::npos);
    QCOMPARE(Lines(log, "Loaded Server File"), 1);
    QVERIFY(s.f.errors.empty());
  }

  // Places and captions are checked where a user sees them: the fit test's
  // pictures per font. Here: what the keyboard does.
  void TabOrderBuddiesAndDefaultButton() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    QCOMPARE(w.StaticText2->buddy(), static_cast<QWidget*>(w.txtEmail));
    QVERIFY(w.btnOk->isDefault());

    // Tab order as listed.
    const QWidget* expect[] = {w.txtEmail,
                               w.txtSMTP,
                               w.cboSMTPSecurity,
                               w.txtSMTPUser,
                               w.txtSMTPPassword,
                               w.chkCheckHistory,
                               w.cboHTTPServersPages,
                               w.cboHTTPServersBinary,
                               w.cboFTPservers,
                               w.btnOk,
                               w.btnCancel,
                               w.btnUnload,
                               w.btnHelp,
                               w.chkShowTips,
                               w.btnNow,
                               w.chkKeepFailed};
    for (std::size_t i = 1; i < std::size(expect); ++i)
      QCOMPARE(NextTabStop(expect[i - 1]), expect[i]);
  }

  void AutostartBoxWritesAndRemovesTheEntry() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    const std::string entry = AutostartFilePath(kAppId);
    const std::string configHome = s.f.config.substr(0, s.f.config.size() - 8);  // "tolvane/"
    QCOMPARE(entry, configHome + "autostart/" + kAppId + ".desktop");
    QVERIFY(!w.chkAutostart->isChecked());
    w.chkAutostart->click();
    QVERIFY(w.chkAutostart->isChecked());
    const std::string text = GetFile(entry);
    const std::string exec =
        "\nExec=" + QCoreApplication::applicationFilePath().toStdString() + " /s\n";
    QVERIFY2(text.find(exec) != std::string::npos, text.c_str());
    QProcess validate;
    validate.start("desktop-file-validate", {QString::fromStdString(entry)});
    QVERIFY(validate.waitForFinished());
    QCOMPARE(validate.readAll(), QByteArray());
    QCOMPARE(validate.exitCode(), 0);
    w.chkAutostart->click();
    QVERIFY(!FileExists(entry));
    QVERIFY(!w.chkAutostart->isChecked());
    // The file is the state: an entry made elsewhere shows when the window comes up.
    EnableAutostart(kAppId, "/opt/my tools/tolvane");
    QVERIFY(GetFile(entry).find("\nExec=\"/opt/my tools/tolvane\" /s\n") != std::string::npos);
    w.ShowCentred();
    QVERIFY(w.chkAutostart->isChecked());
    QVERIFY(s.f.errors.empty());
  }

  void StoredValuesAreReadWithTheirRules() {
    Setup s;
    PutFile(s.f.Ini(), "[General]\r\nEmail=\"" + std::string(2000, 'a') +
                           "\"\r\nEnabled=5\r\nConfirm=0x1\r\nCheckHistory=0\r\nTrayIconDim=1\r\n"
                           "TipEnabled=0\r\n[Servers]\r\nSMTP=  smtp.example.org  \r\n"
                           "HTTPPages=pages@two\r\nFTP=gone@nowhere\r\n");
    StartedTray t;
    TfrmProps& w = t.w;
    QCOMPARE(w.txtEmail->text().size(), 1023);
    QCOMPARE(w.txtSMTP->text(), QString("smtp.example.org"));
    QCOMPARE(w.optConfirm->ItemIndex(), 1);
    QVERIFY(!w.chkCheckHistory->isChecked());
    // A file from before the setting keeps the old behaviour.
    QVERIFY(!w.chkKeepFailed->isChecked());
    // Dim means disabled: the stored dim flag selects "&No" over Enabled=5.
    QCOMPARE(w.optEnabled->ItemIndex(), 1);
    QVERIFY(t.app.Dim());
    QCOMPARE(t.app.Icon().ToolTip(), std::string("(Tolvane)"));
    QCOMPARE(w.cboHTTPServersPages->currentText(), QString("pages@two"));
    QCOMPARE(w.cboFTPservers->currentText(), QString("ftp@one"));
    QCOMPARE(w.Servers.PagesVerb, std::string("SEND "));
    QVERIFY(t.app.SettingsComplete());
    QVERIFY(!w.isVisible());

    PutFile(s.f.Ini(),
            "[General]\r\nEmail=x\r\nEnabled=-1\r\nConfirm=-3\r\nTipEnabled=0\r\n"
            "[Servers]\r\nSMTP=y\r\n");
    w.btnCancel->click();
    QCOMPARE(w.optEnabled->ItemIndex(), -1);
    QCOMPARE(w.optConfirm->ItemIndex(), -1);
    QVERIFY(!t.app.Dim());
    PutFile(s.f.Ini(), "[General]\r\nEnabled=5\r\n");
    w.btnCancel->click();
    QCOMPARE(w.optEnabled->ItemIndex(), 0);  // out of range counts as enabled
  }

  void FieldChangesAreLogged() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    QTest::keyClicks(w.txtSMTP, "ab");
    const std::string log = s.f.Log();
    QVERIFY(log.find("SMTP: mail.example.orga\r\n") != std::string::npos);
    QVERIFY(log.find("SMTP: mail.example.orgab\r\n") != std::string::npos);
    QVERIFY(log.find("Email: me@example.org\r\n") != std::string::npos);
  }

  void OkSavesCancelRestoresButKeepsTheServerChoice() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    w.ShowCentred();
    w.txtEmail->setText("new@example.org");
    w.optConfirm->SetItemIndex(0);
    w.chkCheckHistory->setChecked(false);
    w.chkKeepFailed->setChecked(true);
    w.cboHTTPServersPages->setCurrentIndex(1);
    w.btnOk->click();
    QVERIFY(!w.isVisible());
    QCOMPARE(ReadProfileString(s.f.Ini(), "General", "Email"), std::string("new@example.org"));
    QCOMPARE(ReadProfileString(s.f.Ini(), "General", "Confirm"), std::string("0"));
    QCOMPARE(ReadProfileString(s.f.Ini(), "General", "Enabled"), std::string("0"));
    QCOMPARE(ReadProfileString(s.f.Ini(), "General", "CheckHistory"), std::string("0"));
    QCOMPARE(ReadProfileString(s.f.Ini(), "General", "KeepFailed"), std::string("1"));
    QCOMPARE(ReadProfileString(s.f.Ini(), "Servers", "HTTPPages"), std::string("pages@two"));
    QCOMPARE(ReadProfileString(s.f.Ini(), "Servers", "HTTPBinary"), std::string("bin@one"));
    QCOMPARE(ReadProfileString(s.f.Ini(), "Servers", "FTP"), std::string("ftp@one"));

    w.ShowCentred();
    w.txtEmail->setText("typed@example.org");
    w.optConfirm->SetItemIndex(2);
    w.cboFTPservers->setCurrentIndex(1);
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(!w.isVisible());
    QCOMPARE(w.txtEmail->text(), QString("new@example.org"));
    QCOMPARE(w.optConfirm->ItemIndex(), 0);
    QCOMPARE(w.cboFTPservers->currentText(), QString("ftp@two"));
  }

  void MailServerRowFollowsThePortSavesRevertsAndKeepsThePasswordOut() {
    Setup s;
    s.f.Settings("smtp.example.org:587");
    TPrivateKeyring& keyring = TPrivateKeyring::Shared();
    StartedTray t;
    TfrmProps& w = t.w;
    // No stored choice: the port's.
    QCOMPARE(w.cboSMTPSecurity->currentIndex(), int(TSmtpSecurity::StartTls));
    w.ShowCentred();
    w.txtSMTP->clear();
    QTest::keyClicks(w.txtSMTP, "smtp.example.org:465");
    QCOMPARE(w.cboSMTPSecurity->currentIndex(), int(TSmtpSecurity::Tls));
    QTest::keyClicks(w.txtSMTPUser, "me@example.org");
    QTest::keyClicks(w.txtSMTPPassword, "s3cret word");
    w.btnOk->click();
    QCOMPARE(ReadProfileString(s.f.Ini(), "Servers", "SMTPSecurity"), std::string("tls"));
    QCOMPARE(ReadProfileString(s.f.Ini(), "Servers", "SMTPUser"), std::string("me@example.org"));
    QCOMPARE(keyring.Lookup("tolvane:smtp.example.org", "me@example.org"),
             std::string("s3cret word"));
    QVERIFY(GetFile(s.f.Ini()).find("s3cret") == std::string::npos);
    QVERIFY(s.f.Log().find("s3cret") == std::string::npos);
    QVERIFY(w.txtSMTPPassword->text().isEmpty());

    // Cancel brings back the saved choice; a stored one beats the port.
    w.ShowCentred();
    w.cboSMTPSecurity->setCurrentIndex(int(TSmtpSecurity::None));
    w.txtSMTPUser->setText("other");
    w.btnCancel->click();
    QCOMPARE(w.cboSMTPSecurity->currentIndex(), int(TSmtpSecurity::Tls));
    QCOMPARE(w.txtSMTPUser->text(), QString("me@example.org"));

    // A value no one can act on is reported, and the port decides meanwhile.
    WriteProfileString(s.f.Ini(), "Servers", "SMTPSecurity", "ssl");
    w.btnCancel->click();
    QCOMPARE(w.cboSMTPSecurity->currentIndex(), int(TSmtpSecurity::Tls));
    QCOMPARE(s.f.errors.size(), std::size_t{1});
    QVERIFY(s.f.errors[0].find("SMTPSecurity=ssl") != std::string::npos);
  }

  void OkWithABlankFieldKeepsTheWindow() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    w.ShowCentred();
    w.txtSMTP->setText(" \t ");
    BoxAnswerer hand;
    w.btnOk->click();
    QCOMPARE(hand.texts.size(), std::size_t{1});
    QCOMPARE(hand.texts[0], std::string("The required field, <u>S</u>MTP server address is empty"));
    QVERIFY(!t.app.SettingsComplete());
    QVERIFY(w.isVisible());
    QCOMPARE(ReadProfileString(s.f.Ini(), "Servers", "SMTP"), std::string("mail.example.org"));
  }

  void OkTakesANamedAddressButRefusesTextThatIsNoAddress() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    w.ShowCentred();
    w.txtEmail->setText("me at example.org");
    BoxAnswerer hand;
    w.btnOk->click();
    QCOMPARE(hand.texts.size(), std::size_t{1});
    QCOMPARE(hand.texts[0],
             std::string("&quot;me at example.org&quot; in A<u>d</u>dress is not an e-mail "
                         "address. Type it as name@example.org, or as Your Name "
                         "&lt;name@example.org&gt;"));
    QVERIFY(!t.app.SettingsComplete());
    QVERIFY(w.isVisible());
    QCOMPARE(w.focusWidget(), static_cast<QWidget*>(w.txtEmail));
    QCOMPARE(ReadProfileString(s.f.Ini(), "General", "Email"), std::string("me@example.org"));

    w.txtEmail->setText("Me <me@example.net>");
    w.btnOk->click();
    QCOMPARE(hand.texts.size(), std::size_t{1});
    QVERIFY(t.app.SettingsComplete());
    QCOMPARE(ReadProfileString(s.f.Ini(), "General", "Email"), std::string("Me <me@example.net>"));
  }

  void RefusedWriteReachesTheErrorBoxAndTheWindowStays() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    w.ShowCentred();
    // A folder where the file should be: no one can replace it by a file.
    std::remove(s.f.Ini().c_str());
    QVERIFY(QDir().mkpath(QString::fromStdString(s.f.Ini())));
    w.txtEmail->setText("other@example.org");
    w.btnOk->click();
    QCOMPARE(s.f.errors.size(), std::size_t{1});
    QCOMPARE(s.f.errors[0], "Error in QPushButton.1102 with UH Unable to write to " + s.f.Ini());
    QVERIFY(w.isVisible());
  }

  void TrayClicksFlipTheStateAndRightClickCentres() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    const int id = t.app.Icon().TaskIconID();
    t.app.Icon().Callback(id, TTaskIcon::Mouse::LeftUp, {});
    QVERIFY(t.app.Dim());
    QCOMPARE(w.optEnabled->ItemIndex(), 1);
    QCOMPARE(t.app.Icon().ToolTip(), std::string("(Tolvane)"));
    QCOMPARE(t.app.Icon().Icon().pixmap(16).toImage(), LoadIcon("dim", 0).pixmap(16).toImage());
    // A double-click is a click, the double-click and a click: no change.
    t.app.Icon().Callback(id, TTaskIcon::Mouse::LeftUp, {});
    t.app.Icon().Callback(id, TTaskIcon::Mouse::LeftDouble, {});
    t.app.Icon().Callback(id, TTaskIcon::Mouse::LeftUp, {});
    QVERIFY(t.app.Dim());
    t.app.Icon().Callback(id, TTaskIcon::Mouse::LeftUp, {});
    QVERIFY(!t.app.Dim());
    QCOMPARE(w.optEnabled->ItemIndex(), 0);
    QCOMPARE(t.app.Icon().ToolTip(), std::string("Tolvane"));
    // Nothing written: Enabled by Ok only, TrayIconDim at the end.
    QVERIFY(!ReadProfileBool(s.f.Ini(), "General", "Enabled", false));

    w.move(0, 0);
    t.app.Icon().Callback(id, TTaskIcon::Mouse::RightUp, {5, 5});
    QVERIFY(w.isVisible());
    QCOMPARE(w.pos(), Centred(w));
    w.move(3, 3);
    t.app.Icon().Callback(id, TTaskIcon::Mouse::RightUp, {5, 5});
    QVERIFY(w.pos() != QPoint(3, 3));
  }

  void ClosingOrMinimisingHidesAndReloads() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    w.ShowCentred();
    w.txtEmail->setText("unsaved");
    QVERIFY(!w.close());
    QVERIFY(!w.isVisible());
    QCOMPARE(w.txtEmail->text(), QString("me@example.org"));
    QVERIFY(w.close());  // hidden: the close is allowed

    w.ShowCentred();
    w.showMinimized();
    QTRY_VERIFY(!w.isVisible());
  }

  void SuperDebugQuestion() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    {
      BoxAnswerer no(QMessageBox::No);
      w.SuperDebugQuestion();
      QCOMPARE(no.texts.at(0), std::string("Super debug status is: OFF. Change?"));
      QVERIFY(!SuperDebug);
    }
    BoxAnswerer yes(QMessageBox::Yes);
    w.ShowCentred();
    QTest::keyClick(w.txtEmail, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    QVERIFY(SuperDebug);
    w.SuperDebugQuestion();
    QCOMPARE(yes.texts.at(1), std::string("Super debug status is: ON. Change?"));
    QVERIFY(!SuperDebug);
    // Closed with its close box: not a No, so the switch flips.
    BoxAnswerer closer(QMessageBox::Ok);
    closer.onBox = [](QWidget* box) { box->close(); };
    w.SuperDebugQuestion();
    QVERIFY(SuperDebug);
  }

  void InstallerFlagEndsTheProgramAndSavesTheIconState() {
    Setup s;
    int code = -1;
    {
      StartedTray t;
      t.w.ShowCentred();  // a visible window does not hold the program
      PutFile(s.f.program + "Installer.Flg", "");
      t.app.TrayClick();
      code = RunUntilExit([&] { t.app.Tick(); });
    }
    QCOMPARE(code, 0);
    QVERIFY(!FileExists(s.f.program + "Installer.Flg"));
    QVERIFY(ReadProfileBool(s.f.Ini(), "General", "TrayIconDim", false));
  }

  void UnloadEndsTheProgram() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    w.ShowCentred();
    QCOMPARE(RunUntilExit([&] { w.btnUnload->click(); }), 0);
    QVERIFY(t.app.Stopping());
  }

  void EveryHelpTopicHasAPageAndF1OpensThatOfTheFocusedControl() {
    Setup s;
    for (int topic : {1, 2, 3, 4, 6, 7, 9, 10, 17, 19, 2000, 2001}) {
      QVERIFY2(FileExists(HelpPagePath(topic)), std::to_string(topic).c_str());
    }
    for (const std::string& line : SplitTipLines(GetFile(TipsFilePath()))) {
      const int topic = std::stoi(line.substr(0, line.find(',')));
      if (topic) QVERIFY2(FileExists(HelpPagePath(topic)), line.c_str());
    }
    StartedTray t;
    TfrmProps& w = t.w;
    w.ShowCentred();
    w.txtSMTP->setFocus();
    QTest::keyClick(w.txtSMTP, Qt::Key_F1);
    QVERIFY(HelpWindow() && HelpWindow()->isVisible());
    auto* browser = HelpWindow()->findChild<QTextBrowser*>("browser");
    QVERIFY(browser);
    QCOMPARE(browser->source().fileName(), QString("2001.html"));
    QVERIFY(browser->toPlainText().contains("SMTP server"));
    w.mnuHelp->trigger();
    QCOMPARE(browser->source().fileName(), QString("10.html"));
    HelpWindow()->close();
    w.btnHelp->click();
    QVERIFY(HelpWindow()->isVisible());
    HelpWindow()->close();
  }

  // The timer ticks while a request asks for confirmation.
  void DailyStepWaitsForARunningRequest() {
    Setup s;
    s.f.Settings("127.0.0.1:1", "Confirm=0\r\n");
    StartedTray t;
    const int trims = Lines(s.f.Log(), "Log trimmed");
    t.app.SetTickCount(TTrayApp::kTicksPerDay);
    BoxAnswerer hand(QMessageBox::No);
    hand.onBox = [&](QWidget*) { t.app.Tick(); };
    t.app.Stack().Dispatcher.ClipboardChanged("http://host/a.htm", true, true);
    QCOMPARE(hand.texts.size(), std::size_t{1});
    QCOMPARE(t.app.TickCount(), TTrayApp::kTicksPerDay + 1);
    QCOMPARE(Lines(s.f.Log(), "Log trimmed"), trims);
    t.app.Tick();
    QCOMPARE(t.app.TickCount(), 0);
    QCOMPARE(Lines(s.f.Log(), "Log trimmed"), trims + 1);
  }

  void MissingServerListStopsTheCreationSteps() {
    TestFolders f;
    std::remove((f.program + "uservers.dat").c_str());
    PutFile(f.Ini(),
            "[General]\r\nEmail=me@example.org\r\nTrayIconDim=1\r\nTipNumber=5\r\n"
            "[Servers]\r\nSMTP=m\r\n");
    { StartedTray early; }
    // A start that stopped early writes nothing over the stored values.
    QVERIFY(ReadProfileBool(f.Ini(), "General", "TrayIconDim", false));
    QCOMPARE(ReadProfileInteger(f.Ini(), "General", "TipNumber", 0), 5);
    f.errors.clear();
    StartedTray t;
    TfrmProps& w = t.w;
    QCOMPARE(f.errors.size(), std::size_t{1});
    QVERIFY2(f.errors[0].find("Error in TfrmProps.") == 0, f.errors[0].c_str());
    QVERIFY(f.errors[0].find(" with UH ") != std::string::npos);
    // Settings were never loaded, so nothing counts as complete.
    QVERIFY(!t.app.SettingsComplete());
    QCOMPARE(w.txtEmail->text(), QString());
  }

  // The tray program starts without controls: the values work without them,
  // and filling the controls is no click on them.
  void ControlsComeWithTheFirstShowAndKeepTheValues() {
    Setup s;
    WriteProfileInteger(s.f.Ini(), "General", "Confirm", 0);
    WriteProfileInteger(s.f.Ini(), "General", "Enabled", 1);
    WriteProfileString(s.f.Ini(), "Servers", "SMTPUser", " me ");
    StartedTray t(TfrmProps::TControls::OnFirstShow);
    TfrmProps& w = t.w;
    QVERIFY(!w.ControlsMade() && !w.txtEmail);
    QVERIFY(t.app.SettingsComplete());
    QCOMPARE(w.Values().Confirm, 0);
    QCOMPARE(w.Values().Enabled, 1);
    QCOMPARE(t.app.Settings().Account.Smtp, std::string("mail.example.org"));
    QCOMPARE(t.app.Settings().Account.User, std::string("me"));
    QVERIFY(!t.app.Dim());

    w.ShowCentred();
    QVERIFY(w.ControlsMade());
    QCOMPARE(w.txtEmail->text(), QString("me@example.org"));
    QCOMPARE(w.txtSMTPUser->text(), QString("me"));
    QCOMPARE(w.optConfirm->ItemIndex(), 0);
    QCOMPARE(w.optEnabled->ItemIndex(), 1);
    QVERIFY(!t.app.Dim());
    QVERIFY(w.width() >= 541);
    // Cancel refills the controls; the tray icon takes the stored state.
    w.optEnabled->Button(0)->click();
    w.btnCancel->click();
    QCOMPARE(w.optEnabled->ItemIndex(), 1);
    QVERIFY(!t.app.Dim());
  }

  void NowShowsATipAndTheBoxFollowsTheSwitch() {
    Setup s;
    StartedTray t;
    TfrmProps& w = t.w;
    QVERIFY(!w.chkShowTips->isChecked());
    BoxAnswerer hand;
    hand.onBox = [](QWidget* box) {
      if (auto* tips = qobject_cast<TfrmTips*>(box)) tips->chkShowTips->click();
    };
    w.btnNow->click();
    QCOMPARE(hand.titles.size(), std::size_t{1});
    QCOMPARE(hand.titles[0], std::string("Tolvane - Tip of the Day"));
    QVERIFY(t.app.Tips().Enabled);
    QVERIFY(w.chkShowTips->isChecked());
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
