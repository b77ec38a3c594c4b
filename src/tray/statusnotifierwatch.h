#pragma once
// Following a D-Bus tray (a StatusNotifierItem host) by its watcher's name on the session bus, where
// Qt has D-Bus (statusnotifierwatch_dbus.cpp); elsewhere there is none to follow
// (statusnotifierwatch_none.cpp).

#include <functional>

class QObject;

// Whether Qt uses a D-Bus tray here (the watcher is on the session bus and a host is registered with
// it, the test Qt's platform theme makes once to choose). If so, availabilityChanged is called
// with false when the watcher leaves the bus and with true when one comes back, for as long as
// owner lives; if not, it is never called.
bool followStatusNotifierWatcher(QObject *owner, const std::function<void(bool available)> &availabilityChanged);
