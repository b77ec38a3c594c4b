// The session bus's StatusNotifierWatcher, followed by its name.
#include "tray/statusnotifierwatch.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

bool statusNotifierHostRegistered(const QDBusConnection &bus)
{
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kWatcherService))
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
           && qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

} // namespace

bool followStatusNotifierWatcher(QObject *owner, const std::function<void(bool)> &availabilityChanged)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // Watching before asking, so that a watcher leaving in between is not missed.
    auto *watcher = new QDBusServiceWatcher(
        kWatcherService, bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
        owner);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceRegistered, owner,
                     [availabilityChanged] { availabilityChanged(true); });
    QObject::connect(watcher, &QDBusServiceWatcher::serviceUnregistered, owner,
                     [availabilityChanged] { availabilityChanged(false); });
    if (!statusNotifierHostRegistered(bus)) {
        delete watcher;
        return false;
    }
    return true;
}
