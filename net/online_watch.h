// Tells when the machine is on line again: NetworkManager's StateChanged on
// the system bus reaching full connectivity. Without NetworkManager it never
// fires, and the caller's retry timer does the work alone.
#pragma once

#include <QDBusConnection>
#include <QObject>

class TOnlineWatch : public QObject {
  Q_OBJECT

 public:
  // NM_STATE_CONNECTED_GLOBAL
  static constexpr unsigned kConnectedGlobal = 70;

  explicit TOnlineWatch(QObject* parent = nullptr);
  TOnlineWatch(const QDBusConnection& bus, QObject* parent = nullptr);

  // NetworkManager was on the bus and its signal is connected.
  bool Watching() const { return watching_; }

 signals:
  // Full connectivity after a time without it.
  void Online();

 private slots:
  void StateChanged(uint state);

 private:
  bool watching_ = false;
  unsigned last_ = 0;
};
