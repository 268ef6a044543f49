#include "shell/desktop_controls.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QEvent>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

#include "base/debug_log.h"
#include "platform/autostart.h"
#include "platform/file_layout.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/text_editor.h"

const char kAppId[] = TOLVANE_APP_ID;

namespace {

constexpr int kRowHeight = 30;

// The box shows whether the entry exists each time the window comes up:
// the user may have removed it in the desktop's own settings.
class TAutostartRefresh : public QObject {
 public:
  TAutostartRefresh(QWidget* window, QCheckBox* box) : QObject(window), box_(box) {
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show) box_->setChecked(AutostartEnabled(kAppId));
    return false;
  }

 private:
  QCheckBox* box_;
};

}  // namespace

void AddDesktopControls(TfrmProps& form) {
  const int top = form.height() + 4;
  form.chkAutostart = new QCheckBox("Start Tolvane when I lo&g in", &form);
  form.chkAutostart->setObjectName("chkAutostart");
  form.chkAutostart->setGeometry(8, top + 3, 257, 17);
  form.chkAutostart->setToolTip("Start Tolvane silently in the tray with your desktop");
  form.chkAutostart->setChecked(AutostartEnabled(kAppId));
  new TAutostartRefresh(&form, form.chkAutostart);

  form.btnEditServers = new QPushButton("Edit ser&ver list", &form);
  form.btnEditServers->setObjectName("btnEditServers");
  form.btnEditServers->setAutoDefault(false);
  form.btnEditServers->setToolTip("Open your own copy of the server list in an editor");
  const int width = std::max(124, form.btnEditServers->sizeHint().width());
  form.btnEditServers->setGeometry(form.width() - 9 - width, top, width, 24);

  QObject::connect(form.chkAutostart, &QCheckBox::clicked, &form,
                   [&form] { Guarded(form.chkAutostart, [&] { chkAutostartClick(form); }); });
  QObject::connect(form.btnEditServers, &QPushButton::clicked, &form,
                   [&form] { Guarded(form.btnEditServers, [&] { btnEditServersClick(&form); }); });
  form.setFixedSize(form.width(), form.height() + kRowHeight);
}

void chkAutostartClick(TfrmProps& form) {
  const bool wanted = form.chkAutostart->isChecked();
  // Whatever happens, the box ends showing the file's real state.
  struct Sync {
    TfrmProps& form;
    ~Sync() { form.chkAutostart->setChecked(AutostartEnabled(kAppId)); }
  } sync{form};
  if (wanted) {
    EnableAutostart(kAppId, QCoreApplication::applicationFilePath().toStdString());
  } else {
    DisableAutostart(kAppId);
  }
}

namespace {

void EditHere(const std::string& path, QWidget* parent) {
  DebugLog("No program opened \"" + path + "\": editing it in Tolvane");
  // One editor of the list at a time: a second click brings it up.
  if (auto* open = parent->findChild<QDialog*>("frmTextEditor")) {
    open->raise();
    open->activateWindow();
    return;
  }
  Guarded(parent, [&] {
    OpenTextEditor(path, "Saved. Tolvane reads the new server list when it starts again.", parent);
  });
}

}  // namespace

void btnEditServersClick(QWidget* parent) {
  const std::string path = MakeUserCopy("uservers.dat");
  const QString opener = QStandardPaths::findExecutable("xdg-open");
  if (opener.isEmpty()) {
    // The desktop's own launcher (or a sandbox's portal) where there is one.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)))) {
      EditHere(path, parent);
    }
    return;
  }
  // Run rather than handed to QDesktopServices, which cannot tell when
  // xdg-open finds no program for text files.
  auto* run = new QProcess(parent);
  run->setStandardInputFile(QProcess::nullDevice());
  run->setProcessChannelMode(QProcess::ForwardedChannels);
  QObject::connect(run, &QProcess::errorOccurred, parent, [=](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    run->deleteLater();
    EditHere(path, parent);
  });
  QObject::connect(run, &QProcess::finished, parent, [=](int code, QProcess::ExitStatus status) {
    run->deleteLater();
    if (status != QProcess::NormalExit || code != 0) EditHere(path, parent);
  });
  run->start(opener, {QString::fromStdString(path)});
}
