#include "shell/task_icon.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QString>

#include "base/debug_log.h"
#include "shell/ui_style.h"

std::string CutUtf8(const std::string& text, std::size_t max) {
  if (text.size() <= max) return text;
  std::size_t end = max;
  // Step back over continuation bytes so that no sequence is split.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

namespace {

constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";

bool WatcherPresent() {
  const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  return bus && bus->isServiceRegistered(kWatcherService);
}

}  // namespace

TTaskIcon::TTaskIcon(QObject* owner) : QObject(owner) {
  waiting_.setInterval(kHostLookMs);
  connect(&waiting_, &QTimer::timeout, this, &TTaskIcon::LookForHost);
  // On Wayland Qt decides once, when its first tray icon is made, whether
  // icons go over D-Bus; so the icon is made only once a watcher is there.
  if (!OnWayland()) MakeTray();
}

TTaskIcon::~TTaskIcon() {
  if (active_) tray_->hide();
}

void TTaskIcon::MakeTray() {
  if (tray_) return;
  tray_ = std::make_unique<QSystemTrayIcon>();
  connect(tray_.get(), &QSystemTrayIcon::activated, this, &TTaskIcon::Activated);
}

bool TTaskIcon::HostAvailable() {
  if (OnWayland()) return WatcherPresent();
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void TTaskIcon::WaitForHost() {
  if (host_watcher_ || !QDBusConnection::sessionBus().isConnected()) return;
  host_watcher_ = std::make_unique<QDBusServiceWatcher>(
      kWatcherService, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForRegistration);
  connect(host_watcher_.get(), &QDBusServiceWatcher::serviceRegistered, this, [this] {
    if (wanted_ && !active_) {
      DebugLog("StatusNotifierWatcher appeared: tray icon registered");
      SetActive(true);
    }
  });
}

void TTaskIcon::SetActive(bool value) {
  wanted_ = value;
  if (!value) waiting_.stop();
  if (value == active_) return;
  ++platform_calls_;
  if (value) {
    // A tray host that comes later (a panel that starts after us at login)
    // gets the icon as soon as it is there.
    if (!HostAvailable()) {
      if (OnWayland()) {
        WaitForHost();
      } else {
        waiting_.start();
      }
      return;
    }
    MakeTray();
    tray_->setIcon(icon_);
    tray_->setToolTip(QString::fromStdString(tool_tip_));
    tray_->show();
    active_ = tray_->isVisible();
  } else {
    tray_->hide();
    active_ = tray_->isVisible();
  }
}

void TTaskIcon::LookForHost() {
  if (!HostAvailable()) return;
  waiting_.stop();
  SetActive(true);
}

void TTaskIcon::SetIcon(const QIcon& value) {
  if (value.cacheKey() == icon_.cacheKey()) return;
  icon_ = value;
  Modify();
}

void TTaskIcon::SetToolTip(const std::string& value) {
  std::string cut = CutUtf8(value, kToolTipMax);
  if (cut == tool_tip_) return;
  tool_tip_ = std::move(cut);
  Modify();
}

void TTaskIcon::SetTaskIconID(int value) {
  if (value == id_) return;
  id_ = value;
  Modify();
}

void TTaskIcon::Modify() {
  if (!active_) return;
  ++platform_calls_;
  tray_->setIcon(icon_);
  tray_->setToolTip(QString::fromStdString(tool_tip_));
}

void TTaskIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
  const QPoint cursor = QCursor::pos();
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      Callback(id_, Mouse::LeftUp, cursor);
      break;
    case QSystemTrayIcon::DoubleClick:
      // Qt folds the second click of a double-click into this report; the
      // handlers count on every click arriving as a click, so that a
      // double-click flips the state twice.
      Callback(id_, Mouse::LeftDouble, cursor);
      Callback(id_, Mouse::LeftUp, cursor);
      break;
    case QSystemTrayIcon::Context:
      Callback(id_, Mouse::RightUp, cursor);
      break;
    default:
      break;
  }
}

void TTaskIcon::Callback(int id, Mouse message, QPoint cursor) {
  if (id != id_) return;
  switch (message) {
    case Mouse::LeftUp:
      if (OnClick) OnClick(this);
      break;
    case Mouse::LeftDouble:
      if (OnDblClick) OnDblClick(this);
      break;
    case Mouse::RightUp:
      if (OnRightClick) OnRightClick(this, Qt::RightButton, Qt::NoModifier, cursor.x(), cursor.y());
      break;
    case Mouse::Other:
      break;
  }
}
