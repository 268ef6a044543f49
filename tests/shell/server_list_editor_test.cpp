// "Edit server list": the desktop's opener (a real xdg-open script on PATH)
// gets the user's own copy; when none is there or it fails, our own editor
// window edits and saves it.
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include "platform/file_layout.h"
#include "shell/main_window.h"
#include "window_fixture.h"

namespace {

constexpr char kServers[] = "[pages@one]\r\nType=0\r\nverbPagesHttp=SEND\r\n";

// An installed tree whose shipped list is copied to the user's own at the
// first click, and a PATH of one folder that holds `opener` as xdg-open
// (none when empty).
struct Setup {
  explicit Setup(const std::string& opener) : path("PATH", f.program + "path") {
    const std::string prefix = f.program + "usr/";
    std::filesystem::create_directories(prefix + "bin");
    std::filesystem::create_directories(prefix + "share/tolvane");
    std::filesystem::create_directories(f.program + "path");
    PutFile(prefix + "share/tolvane/uservers.dat", kServers);
    ::setenv("XDG_STATE_HOME", (f.program + "state").c_str(), 1);
    SetFileLayout(MakeInstalledLayout(prefix + "bin/"));
    f.Settings();
    if (!opener.empty()) {
      PutFile(f.program + "path/xdg-open", "#!/bin/sh\n" + opener + "\n");
      ::chmod((f.program + "path/xdg-open").c_str(), 0755);
    }
  }
  ~Setup() { ::unsetenv("XDG_STATE_HOME"); }
  std::string Mine() const { return f.config + "uservers.dat"; }

  TestFolders f;
  EnvGuard path;
};

}  // namespace

class ServerListEditorTest : public QObject {
  Q_OBJECT

 private slots:
  void TheOpenerGetsTheUsersCopyMadeOnce() {
    Setup s("echo \"$1\" >> \"$0.got\"");
    StartedTray t;
    const std::string got = s.f.program + "path/xdg-open.got";
    t.w.btnEditServers->click();
    QTRY_COMPARE(GetFile(got), s.Mine() + "\n");
    QCOMPARE(GetFile(s.Mine()), std::string(kServers));
    PutFile(s.Mine(), "[pages@mine]\r\nType=0\r\n");
    t.w.btnEditServers->click();
    QTRY_COMPARE(GetFile(got), s.Mine() + "\n" + s.Mine() + "\n");
    QCOMPARE(GetFile(s.Mine()), std::string("[pages@mine]\r\nType=0\r\n"));
    QTest::qWait(100);
    QVERIFY(!t.w.findChild<QDialog*>("frmTextEditor"));
    QVERIFY(s.f.errors.empty());
  }

  void WithoutAWorkingOpenerOurEditorSavesTheEdit() {
    for (const std::string opener : {"", "exit 3"}) {
      Setup s(opener);
      StartedTray t;
      t.w.btnEditServers->click();
      QDialog* editor = nullptr;
      QTRY_VERIFY((editor = t.w.findChild<QDialog*>("frmTextEditor")));
      QVERIFY(editor->isVisible());
      auto* text = editor->findChild<QPlainTextEdit*>("txtText");
      QTest::keyClick(text, Qt::Key_End, Qt::ControlModifier);
      QTest::keyClicks(text, "[pages@mine]");
      QTest::keyClick(text, Qt::Key_Return);
      QTest::keyClicks(text, "Type=0");
      editor->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
      // Line ends as the file had them.
      QCOMPARE(GetFile(s.Mine()), std::string(kServers) + "[pages@mine]\r\nType=0");
      QVERIFY(editor->findChild<QLabel*>("lblNote")->text().contains("starts again"));
      t.w.btnEditServers->click();  // brings up the one already open
      QTest::qWait(300);
      QCOMPARE(t.w.findChildren<QDialog*>("frmTextEditor").size(), 1);
      QVERIFY(s.f.errors.empty());
    }
  }
};

QTEST_MAIN(ServerListEditorTest)
#include "server_list_editor_test.moc"
