"""A StatusNotifierWatcher for the tray tests, as a python-dbusmock template
(python3 -m dbusmock -t tests/e2e/sni_watcher.py -l LOG): items that register
show in dbusmock's call log."""

import dbus

BUS_NAME = "org.kde.StatusNotifierWatcher"
MAIN_OBJ = "/StatusNotifierWatcher"
MAIN_IFACE = "org.kde.StatusNotifierWatcher"
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [
        ("RegisterStatusNotifierItem", "s", "", ""),
        ("RegisterStatusNotifierHost", "s", "", ""),
    ])
    mock.AddProperties(MAIN_IFACE, {
        "IsStatusNotifierHostRegistered": True,
        "ProtocolVersion": dbus.Int32(0),
        "RegisteredStatusNotifierItems": dbus.Array([], signature="s"),
    })
