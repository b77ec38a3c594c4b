// The tray where Qt uses a D-Bus tray: the window on the real notification area, against a stand-in
// StatusNotifierWatcher on a private session bus and a virtual X display (tests/desktop/tray-dbus.sh
// makes both). The area follows the watcher's name: it asks the watcher nothing while idle, nothing
// stalls the window's thread while the watcher hangs, and the window leaves the tray and returns as
// the watcher goes and comes back.
#include "support/testwindow.h"
#include "tray/qtnotificationarea.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>

namespace {

// The stand-in watcher as a process of its own, and the calls it has received.
class Watcher
{
public:
    Watcher()
    {
        m_process.setProgram(QStringLiteral(SNI_WATCHER_PATH));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                if (line == QLatin1String("ready"))
                    m_ready = true;
                else if (line.startsWith(QLatin1String("call ")))
                    calls << line.mid(5);
            }
        });
    }
    ~Watcher()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(m_process.processId()), SIGCONT);
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    bool start()
    {
        m_process.start();
        return QTest::qWaitFor([this] { return m_ready || m_process.state() == QProcess::NotRunning; }, 10000)
               && m_ready;
    }
    void signal(int number) { ::kill(static_cast<pid_t>(m_process.processId()), number); }
    bool exit()
    {
        m_process.terminate();
        return m_process.waitForFinished(5000);
    }
    qsizetype registrations() const
    {
        return std::count_if(calls.cbegin(), calls.cend(), [](const QString &call) {
            return call.contains(QLatin1String("RegisterStatusNotifierItem"));
        });
    }

    QStringList calls;

private:
    QProcess m_process;
    bool m_ready = false;
};

// Where the window is, as the user finds it.
QString place(const frmDDNS &window, const NotificationArea &tray)
{
    if (window.isHidden())
        return tray.isIconPresent() ? QStringLiteral("in tray") : QStringLiteral("lost");
    if (window.isMinimized())
        return tray.isIconPresent() ? QStringLiteral("inconsistent") : QStringLiteral("on taskbar");
    return QStringLiteral("shown");
}

} // namespace

class TestTrayDBus : public QObject
{
    Q_OBJECT
private slots:
    void followsTheWatcherWithoutAskingIt();
};

void TestTrayDBus::followsTheWatcherWithoutAskingIt()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        || QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a private session bus and an X display: run through tests/desktop/tray-dbus.sh");
    auto watcher = std::make_unique<Watcher>();
    QVERIFY2(watcher->start(), "the stand-in watcher did not start");

    AppDir dir;
    FakeDesktopServices services(dir.path());
    FakeWinsock socket;
    QtNotificationArea tray;
    frmDDNS window(services, socket, tray, {QStringLiteral("ddns.test.invalid"), 80});
    window.Timer1->stop();
    window.load();
    // Qt chose its D-Bus tray: the icon is registered with the watcher, the window behind it.
    QTRY_COMPARE(watcher->registrations(), 1);
    QTRY_COMPARE(place(window, tray), QStringLiteral("in tray"));

    // Idle, with the area's two-second check as it runs: the watcher hears nothing.
    QTest::qWait(500);
    const qsizetype before = watcher->calls.size();
    constexpr int idleMs = 5000;
    QTest::qWait(idleMs);
    const qsizetype idleCalls = watcher->calls.size() - before;
    qInfo("calls to the watcher per minute while idle: %.1f",
          static_cast<double>(idleCalls) * 60000.0 / static_cast<double>(idleMs));
    QVERIFY2(idleCalls == 0, qPrintable(watcher->calls.mid(before).join(QLatin1String("; "))));

    // A hung watcher stalls nothing: a 100 ms timer keeps its pace.
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(100);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    watcher->signal(SIGSTOP);
    clock.start();
    ticker.start();
    QTest::qWait(3000);
    ticker.stop();
    longestGap = std::max(longestGap, clock.elapsed() - last);
    watcher->signal(SIGCONT);
    qInfo("longest gap of a 100 ms timer while the watcher was stopped: %lld ms", longestGap);
    QVERIFY2(longestGap < 2000, qPrintable(QString::number(longestGap)));
    QCOMPARE(place(window, tray), QStringLiteral("in tray"));

    // The watcher goes: the tray with it, and the window comes back minimised on the taskbar.
    QVERIFY(watcher->exit());
    QTRY_VERIFY(!tray.isAvailable());
    QTRY_COMPARE(place(window, tray), QStringLiteral("on taskbar"));

    // It comes back: the window returns to the tray behind an icon registered with the new watcher.
    watcher = std::make_unique<Watcher>();
    QVERIFY2(watcher->start(), "the stand-in watcher did not start again");
    QTRY_VERIFY(tray.isAvailable());
    QTRY_COMPARE(place(window, tray), QStringLiteral("in tray"));
    QTRY_COMPARE(watcher->registrations(), 1);
}

QTEST_MAIN(TestTrayDBus)
#include "tst_tray_dbus.moc"
