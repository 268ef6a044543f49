// What the window tests share: a private program folder with the shipped
// data, a private settings folder, the error box recorded, a hand that
// answers modal boxes, and the tab order.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "platform/folders.h"
#include "shell/tray_app.h"
#include "tests/platform/temp_folder.h"

// A program folder and a settings folder of their own for one test.
class TestFolders {
 public:
  TestFolders() {
    program = dir_.path().toStdString() + "/bin/";
    const std::string config_home = dir_.path().toStdString() + "/config";
    ::setenv("XDG_CONFIG_HOME", config_home.c_str(), 1);
    config = ConfigFolder();
    QDir().mkpath(QString::fromStdString(program));
    QDir().mkpath(QString::fromStdString(config));
    CopyData(QStringLiteral(TOLVANE_SOURCE_DIR "/data"), QString::fromStdString(program));
    ::setenv("XDG_RUNTIME_DIR", dir_.path().toUtf8().constData(), 1);
    SetProgramFolder(program);
    previous_box_ = SetErrorBox([this](const std::string& text) { errors.push_back(text); });
    Checkpoint = 0;
    SuperDebug = false;
    DebugLog("Started Tolvane");  // as every start does first
  }
  ~TestFolders() { SetErrorBox(previous_box_); }

  std::string Ini() const { return SettingsFilePath(); }
  // Complete settings without the tip window; `general` adds keys.
  void Settings(const std::string& smtp = "mail.example.org", const std::string& general = "") {
    PutFile(Ini(), "[General]\r\nEmail=me@example.org\r\nTipEnabled=0\r\n" + general +
                       "[Servers]\r\nSMTP=" + smtp + "\r\n");
  }
  std::string Log() const { return GetFile(program + "DebugLog.Txt"); }

  std::string program;
  std::string config;
  std::vector<std::string> errors;

 private:
  static void CopyData(const QString& from, const QString& to) {
    QDir source(from);
    for (const QString& name : source.entryList(QDir::Files)) {
      if (name != "CMakeLists.txt") QFile::copy(from + "/" + name, to + "/" + name);
    }
    for (const QString& sub : source.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      QDir().mkpath(to + "/" + sub);
      CopyData(from + "/" + sub, to + "/" + sub);
    }
  }

  QTemporaryDir dir_;
  ErrorBox previous_box_;
};

// The tray program as it starts at log-in, without an instance lock.
struct StartedTray {
  explicit StartedTray(TfrmProps::TControls controls = TfrmProps::TControls::Now)
      : app(nullptr, controls), w(app.Window()) {
    app.Start();
  }
  TTrayApp app;
  TfrmProps& w;
};

// How often `what` occurs in `text` (lines of a log).
inline int Lines(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The next widget that Tab moves the focus to.
inline const QWidget* NextTabStop(const QWidget* w) {
  do w = w->nextInFocusChain();
  while (!(w->focusPolicy() & Qt::TabFocus));
  return w;
}

// Answers every modal box that comes up while it lives: records its text
// and presses `button` (a message box's standard button) or accepts it.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok) : button_(button) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  std::vector<std::string> texts;
  std::vector<std::string> titles;
  std::function<void(QWidget*)> onBox;  // looked at before it is answered

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    titles.push_back(modal->windowTitle().toStdString());
    if (onBox) onBox(modal);
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      texts.push_back(box->text().toStdString());
      if (QAbstractButton* b = box->button(button_)) {
        b->click();
        return;
      }
      box->done(button_);
      return;
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->accept();
  }

  QMessageBox::StandardButton button_;
  QTimer timer_;
};
