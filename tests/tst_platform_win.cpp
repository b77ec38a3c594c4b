// The Windows program's own answers to the system, with the test playing the system where Wine
// does not: the address callback that Wine never makes, called from a thread of the test's own; the
// failures as Qt's Windows socket engine reports them; the TCP_INFO readings Wine never gives; the
// extended form of a path, which Wine does not need past MAX_PATH.
#include "app/instanceplace_win.h"
#include "exchange/addresswatcher_win.h"
#include "exchange/connectioncheck.h"
#include "exchange/machineaddresses.h"
#include "exchange/tcpoptions_win.h"

#include <QTest>
#include <QThread>

#include <cstddef>
#include <mutex>
#include <thread>

namespace {

// The system as the watcher meets it: the registered callback, called from the system's threads,
// and a cancellation that returns only once no call is in progress.
struct PlayedSystem {
    std::mutex calls;
    PUNICAST_IPADDRESS_CHANGE_CALLBACK callback = nullptr;
    PVOID context = nullptr;
    HANDLE cancelled = nullptr;
};
PlayedSystem played;
const HANDLE kRegistration = reinterpret_cast<HANDLE>(quintptr(0x5e7));

NETIO_STATUS WINAPI playedNotify(ADDRESS_FAMILY, PUNICAST_IPADDRESS_CHANGE_CALLBACK callback, PVOID context, BOOLEAN,
                                 HANDLE *handle)
{
    const std::lock_guard lock(played.calls);
    played.callback = callback;
    played.context = context;
    *handle = kRegistration;
    return NO_ERROR;
}

NETIO_STATUS WINAPI playedCancel(HANDLE handle)
{
    const std::lock_guard lock(played.calls);
    played.cancelled = handle;
    played.callback = nullptr;
    return NO_ERROR;
}

// A report as the system makes it: on a thread that is not the program's.
void systemReports(MIB_NOTIFICATION_TYPE type)
{
    std::thread([type] {
        const std::lock_guard lock(played.calls);
        if (played.callback)
            played.callback(played.context, nullptr, type);
    }).join();
}

} // namespace

class TestPlatformWin : public QObject
{
    Q_OBJECT
private slots:
    void addressReportsReachTheObjectsThread();
    void failureShown_data();
    void failureShown();
    void backlogFromTcpInfo_data();
    void backlogFromTcpInfo();
    void extendedPath_data();
    void extendedPath();
};

// A report comes once, in the object's thread, and makes the list be read again; the registration's
// own first call is no change; a report the object did not live to take is dropped with it, and
// none comes once the registration is cancelled.
void TestPlatformWin::addressReportsReachTheObjectsThread()
{
    int reads = 0;
    auto machine = std::make_unique<MachineAddresses>(
        [&reads] {
            ++reads;
            return QList<QHostAddress>{QHostAddress::LocalHost};
        },
        [](std::function<void()> report) {
            return watchWindowsAddresses(std::move(report), AddressNotifyCalls{&playedNotify, &playedCancel});
        });
    QVERIFY(machine->watching());
    int reports = 0;
    QThread *deliveredIn = nullptr;
    connect(machine.get(), &MachineAddresses::changed, this, [&] {
        ++reports;
        deliveredIn = QThread::currentThread();
    });
    machine->addresses();
    machine->addresses();
    QCOMPARE(reads, 1);

    systemReports(MibInitialNotification);
    systemReports(MibAddInstance);
    QTRY_COMPARE(reports, 1);
    QCOMPARE(deliveredIn, machine->thread());
    QTest::qWait(50);
    QCOMPARE(reports, 1);
    machine->addresses();
    QCOMPARE(reads, 2);

    systemReports(MibDeleteInstance);
    machine.reset();
    QCOMPARE(played.cancelled, kRegistration);
    systemReports(MibAddInstance);
    QTest::qWait(50);
    QCOMPARE(reports, 1);
}

// Each row is an error and text exactly as Qt 6.4's Windows engine files a system error
// (qnativesocketengine_win.cpp, its texts in qnativesocketengine.cpp), and how long the client's
// own data had waited when it came.
void TestPlatformWin::failureShown_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("waitedMs");
    QTest::addColumn<int>("shown");

    const int network = int(QAbstractSocket::NetworkError);
    const int closedError = int(QAbstractSocket::RemoteHostClosedError);
    const QString peerClosed = QStringLiteral("The remote host closed the connection");
    const QString unableToWrite = QStringLiteral("Unable to write");
    const int timedOut = int(FailureShown::TimedOut);
    const int closed = int(FailureShown::Closed);
    const int error = int(FailureShown::Error);
    const qint64 limit = kUnacknowledgedLimitMs;

    // The connection Windows gave up after TCP_MAXRT: WSAECONNABORTED on the next read or write.
    QTest::newRow("given up, seen by a read") << closedError << peerClosed << limit << timedOut;
    QTest::newRow("given up, seen by a write") << network << unableToWrite << limit + 3000 << timedOut;
    QTest::newRow("given up, timers a little early") << closedError << peerClosed << limit - 500 << timedOut;
    QTest::newRow("given up, read WSAETIMEDOUT") << network << qt_error_string(WSAETIMEDOUT) << qint64(-1) << timedOut;
    // A connect Windows timed out (a firewall that drops the attempt): Qt's text, not the system's.
    QTest::newRow("connect timed out") << network << QStringLiteral("Connection timed out") << qint64(-1) << timedOut;
    QTest::newRow("Qt's own time-out") << int(QAbstractSocket::SocketTimeoutError)
                                       << QStringLiteral("Socket operation timed out") << qint64(-1) << timedOut;
    // A healthy connection the server closes or resets (WSAECONNRESET): quiet, as a close.
    QTest::newRow("closed, nothing waiting") << closedError << peerClosed << qint64(-1) << closed;
    QTest::newRow("reset just after a request") << closedError << peerClosed << qint64(200) << closed;
    QTest::newRow("reset seen by a write") << network << unableToWrite << qint64(-1) << closed;
    QTest::newRow("reset while a request waits 20 s") << closedError << peerClosed << qint64(20000) << closed;
    // Everything else shows as the error Qt reports.
    QTest::newRow("refused") << int(QAbstractSocket::ConnectionRefusedError) << QStringLiteral("Connection refused")
                             << qint64(-1) << error;
    QTest::newRow("host unreachable") << network << QStringLiteral("Host unreachable") << qint64(-1) << error;
    QTest::newRow("network unreachable") << network << QStringLiteral("Network unreachable") << qint64(-1) << error;
    QTest::newRow("another read error") << network << qt_error_string(WSAENETRESET) << qint64(-1) << error;
}

void TestPlatformWin::failureShown()
{
    QFETCH(int, error);
    QFETCH(QString, text);
    QFETCH(qint64, waitedMs);
    QFETCH(int, shown);
    QCOMPARE(int(judgeFailure(socketFailure(QAbstractSocket::SocketError(error), text), waitedMs)), shown);
}

// What waits for the peer, from SIO_TCP_INFO's answer.
void TestPlatformWin::backlogFromTcpInfo_data()
{
    QTest::addColumn<ulong>("inFlight");
    QTest::addColumn<ulong>("sendWindow");
    QTest::addColumn<ulong>("size");
    QTest::addColumn<qint64>("backlog");
    const ulong full = sizeof(TcpInfoV0);
    QTest::newRow("all acknowledged") << 0ul << 65535ul << full << qint64(0);
    QTest::newRow("sent, not acknowledged") << 1460ul << 65535ul << full << qint64(1460);
    QTest::newRow("peer's window closed, nothing in flight") << 0ul << 0ul << full << qint64(1);
    QTest::newRow("window closed, probe in flight") << 1ul << 0ul << full << qint64(1);
    QTest::newRow("answer too short") << 0ul << 65535ul << ulong(offsetof(TcpInfoV0, SndWnd)) << qint64(-1);
}

void TestPlatformWin::backlogFromTcpInfo()
{
    QFETCH(ulong, inFlight);
    QFETCH(ulong, sendWindow);
    QFETCH(ulong, size);
    QFETCH(qint64, backlog);
    TcpInfoV0 info{};
    info.BytesInFlight = inFlight;
    info.SndWnd = sendWindow;
    QCOMPARE(::backlogFromTcpInfo(info, size), backlog);
}

// The folder as Windows opens a path of any length: absolute, backslashes, nothing to resolve.
void TestPlatformWin::extendedPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("extended");
    QTest::newRow("on a drive") << R"(C:\Program Files\Vestrel)"
                                << R"(\\?\C:\Program Files\Vestrel)";
    QTest::newRow("slashes, dots, a trailing slash") << "C:/a/./b/../Vestrel/"
                                                     << R"(\\?\C:\a\Vestrel)";
    QTest::newRow("on a share") << R"(\\server\share\Vestrel)"
                                << R"(\\?\UNC\server\share\Vestrel)";
    QTest::newRow("on a share, with slashes") << "//server/share/x/../Vestrel"
                                              << R"(\\?\UNC\server\share\Vestrel)";
    QTest::newRow("extended already") << R"(\\?\C:\Vestrel)"
                                      << R"(\\?\C:\Vestrel)";
    QTest::newRow("a share extended already") << R"(\\?\UNC\server\share\V)"
                                              << R"(\\?\UNC\server\share\V)";
}

void TestPlatformWin::extendedPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, extended);
    QCOMPARE(InstancePlace::extendedPath(folder), extended);
}

QTEST_GUILESS_MAIN(TestPlatformWin)
#include "tst_platform_win.moc"
