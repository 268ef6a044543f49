#include "shell/desktop_controls.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

#include "platform/autostart.h"
#include "platform/errors.h"
#include "platform/file_layout.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"

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
                   [&form] { Guarded(form.btnEditServers, [] { btnEditServersClick(); }); });
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

void btnEditServersClick() {
  const std::string path = MakeUserCopy("uservers.dat");
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)))) {
    throw EFileError("No program opens \"" + path + "\"");
  }
}
