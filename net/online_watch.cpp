#include "net/online_watch.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

#include "net/nm_client.h"

TOnlineWatch::TOnlineWatch(QObject* parent) : TOnlineWatch(QDBusConnection::systemBus(), parent) {}

TOnlineWatch::TOnlineWatch(const QDBusConnection& bus, QObject* parent) : QObject(parent) {
  QDBusConnection c = bus;
  if (!c.isConnected()) return;
  const bool present = c.interface() && c.interface()->isServiceRegistered(nm::kService).value();
  if (present) {
    // The state now, so that a first signal that only repeats it is no change.
    QDBusInterface manager(nm::kService, nm::kManagerPath, nm::kManagerIface, c);
    const QVariant state = manager.property("State");
    if (state.isValid()) last_ = state.toUInt();
  }
  // Connected even when NetworkManager is absent: it may start later.
  const bool connected = c.connect(nm::kService, nm::kManagerPath, nm::kManagerIface,
                                   "StateChanged", this, SLOT(StateChanged(uint)));
  watching_ = present && connected;
}

void TOnlineWatch::StateChanged(uint state) {
  const bool was = last_ == kConnectedGlobal;
  last_ = state;
  if (state == kConnectedGlobal && !was) emit Online();
}
