// The tray icon component: one icon in the desktop's notification area with
// click, double-click and right-click events.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QSystemTrayIcon>
#include <QTimer>

class QDBusServiceWatcher;

#include <functional>
#include <memory>
#include <string>

class TTaskIcon : public QObject {
  Q_OBJECT

 public:
  static constexpr std::size_t kToolTipMax = 63;

  // What the platform reports for an icon; decoded by Callback.
  enum class Mouse { LeftUp, LeftDouble, RightUp, Other };

  explicit TTaskIcon(QObject* owner = nullptr);
  ~TTaskIcon() override;

  bool Active() const { return active_; }
  // Adds or removes the icon; stays unchanged when the platform refuses.
  // Without a tray host the icon is added once one appears.
  void SetActive(bool value);

  const QIcon& Icon() const { return icon_; }
  void SetIcon(const QIcon& value);

  const std::string& ToolTip() const { return tool_tip_; }
  void SetToolTip(const std::string& value);

  int TaskIconID() const { return id_; }
  void SetTaskIconID(int value);

  // Unset events are skipped.
  std::function<void(QObject* sender)> OnClick;
  std::function<void(QObject* sender)> OnDblClick;
  std::function<void(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                     int y)>
      OnRightClick;

  // A notification for icon `id`; other numbers and other mouse messages are
  // ignored.
  void Callback(int id, Mouse message, QPoint cursor);

  // How many add, modify and remove requests reached the platform.
  int PlatformCalls() const { return platform_calls_; }

  // False when the desktop has no notification area to dock into (on
  // Wayland: no StatusNotifierWatcher on the session bus).
  static bool HostAvailable();

 private:
  void MakeTray();
  // An icon refused for want of a host registers when a watcher appears.
  void WaitForHost();
  static constexpr int kHostLookMs = 1000;

  void Activated(QSystemTrayIcon::ActivationReason reason);
  void Modify();
  void LookForHost();

  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QDBusServiceWatcher> host_watcher_;
  bool wanted_ = false;
  QTimer waiting_;  // runs while an active icon waits for a tray host
  QIcon icon_;
  std::string tool_tip_;
  int id_ = 0;
  bool active_ = false;
  int platform_calls_ = 0;
};

// `text` cut to at most `max` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t max);
