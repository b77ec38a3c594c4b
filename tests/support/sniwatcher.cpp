// A stand-in for a desktop's StatusNotifierWatcher on the session bus, for the tests: it owns
// org.kde.StatusNotifierWatcher, says a host is registered, accepts items, and prints one line per
// call it receives ("call <interface>.<member> <argument>"), so that a test can count them.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {

const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kPath = QStringLiteral("/StatusNotifierWatcher");

void report(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class Watcher final : public QDBusVirtualObject
{
public:
    QString introspect(const QString & /*path*/) const override
    {
        report(QStringLiteral("call org.freedesktop.DBus.Introspectable.Introspect"));
        return QStringLiteral(R"(<interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
</interface>
)");
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QVariantList args = message.arguments();
        const QString first = args.isEmpty() ? QString() : args.constFirst().toString();
        report(QStringLiteral("call %1.%2 %3").arg(message.interface(), message.member(), first));
        if (message.member() == QLatin1String("RegisterStatusNotifierItem")) {
            m_items << (first.startsWith(QLatin1Char('/')) ? message.service() + first : first);
            connection.send(message.createReply());
            return true;
        }
        if (message.member() == QLatin1String("RegisterStatusNotifierHost")) {
            connection.send(message.createReply());
            return true;
        }
        if (message.member() == QLatin1String("Get") && args.size() == 2) {
            const QVariant value = property(args.at(1).toString());
            connection.send(value.isValid() ? message.createReply(QVariant::fromValue(QDBusVariant(value)))
                                            : message.createErrorReply(QDBusError::InvalidArgs,
                                                                       QStringLiteral("no such property")));
            return true;
        }
        if (message.member() == QLatin1String("GetAll")) {
            QVariantMap all;
            for (const char *name :
                 {"RegisteredStatusNotifierItems", "IsStatusNotifierHostRegistered", "ProtocolVersion"})
                all.insert(QLatin1String(name), property(QLatin1String(name)));
            connection.send(message.createReply(QVariant::fromValue(all)));
            return true;
        }
        return false;
    }

private:
    QVariant property(const QString &name) const
    {
        if (name == QLatin1String("IsStatusNotifierHostRegistered"))
            return true;
        if (name == QLatin1String("ProtocolVersion"))
            return 0;
        if (name == QLatin1String("RegisteredStatusNotifierItems"))
            return m_items;
        return {};
    }

    QStringList m_items;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    if (!bus.isConnected() || !bus.registerVirtualObject(kPath, &watcher)) {
        report(QStringLiteral("error: no session bus"));
        return 1;
    }
    // The object is in place before the name is taken: a client that sees the name may call at once.
    if (bus.interface()->registerService(kService, QDBusConnectionInterface::DontQueueService).value()
        != QDBusConnectionInterface::ServiceRegistered) {
        report(QStringLiteral("error: %1 is taken").arg(kService));
        return 1;
    }
    report(QStringLiteral("ready"));
    return QCoreApplication::exec();
}
