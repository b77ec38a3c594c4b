// The Windows program's own answers to the system, with the test playing the system where Wine
// does not: the address callback that Wine never makes, called from a thread of the test's own; the
// failures as Qt's Windows socket engine reports them; the TCP_INFO readings Wine never gives; a
// volume that keeps no access lists, and the list a save asks for; the window's messages that tell
// the close box from another program's close; the extended form of a path, which Wine does not
// need past MAX_PATH.
#include "app/closeorigin.h"
#include "app/instanceplace_win.h"
#include "app/privatefile_win.h"
#include "exchange/addresswatcher_win.h"
#include "exchange/connectioncheck.h"
#include "exchange/machineaddresses.h"
#include "exchange/tcpoptions_win.h"
#include "support/wine.h"
#include "support/winfiles.h"

#include <QDir>
#include <QSaveFile>
#include <QTemporaryDir>
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

// A volume as a save meets it: its flags, or no answer at all; what setting a list answers, and
// what was asked.
struct PlayedVolume {
    bool answers = true;
    DWORD flags = 0;
    DWORD setResult = ERROR_SUCCESS;
    int sets = 0;
    SECURITY_INFORMATION asked = 0;
    QStringList entries;
};
PlayedVolume volume;

BOOL WINAPI playedVolumeInformation(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD)
{
    if (!volume.answers) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    *flags = volume.flags;
    return TRUE;
}

DWORD WINAPI playedSetSecurityInfo(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION asked, PSID, PSID, PACL dacl, PACL)
{
    ++volume.sets;
    volume.asked = asked;
    volume.entries = accessEntries(dacl);
    return volume.setResult;
}

// Full control (FILE_ALL_ACCESS) for this user and for SYSTEM, in the order the save lists them.
QStringList userAndSystem()
{
    return {"allow " + currentUserSid() + " 1f01ff", "allow S-1-5-18 1f01ff"};
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
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
    void saveFilePrivateBeforeWriting_data();
    void saveFilePrivateBeforeWriting();
    void closeOrigin_data();
    void closeOrigin();
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

// The save file is given its list while still empty, and the rename that replaces config.dat keeps
// it. A volume without lists (FAT, exFAT) does not stop the save; a list the system refuses does.
void TestPlatformWin::saveFilePrivateBeforeWriting_data()
{
    QTest::addColumn<bool>("played"); // else the system's own calls
    QTest::addColumn<bool>("answers");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<uint>("setResult");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("sets");

    using O = PrivateFile::Outcome;
    const uint ntfs = FILE_PERSISTENT_ACLS | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    const uint fat = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    QTest::newRow("this volume") << false << true << 0u << 0u << int(O::Done) << 0;
    QTest::newRow("NTFS: the list asked for") << true << true << ntfs << 0u << int(O::Done) << 1;
    QTest::newRow("FAT, exFAT: none asked for") << true << true << fat << 0u << int(O::NotKept) << 0;
    QTest::newRow("volume unknown, lists not supported")
        << true << false << 0u << uint(ERROR_NOT_SUPPORTED) << int(O::NotKept) << 1;
    QTest::newRow("NTFS: the list refused") << true << true << ntfs << uint(ERROR_ACCESS_DENIED) << int(O::Failed) << 1;
}

void TestPlatformWin::saveFilePrivateBeforeWriting()
{
    QFETCH(bool, played);
    QFETCH(bool, answers);
    QFETCH(uint, flags);
    QFETCH(uint, setResult);
    QFETCH(int, outcome);
    QFETCH(int, sets);
    volume = {answers, flags, setResult, 0, 0, {}};
    PrivateFileCalls calls;
    if (played)
        calls = {playedVolumeInformation, playedSetSecurityInfo};

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.dat"));
    QSaveFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(int(restrictOnWindows(file, calls)), outcome);
    QCOMPARE(volume.sets, sets);
    if (sets > 0) {
        // A list of its own, which nothing of the folder's list is added to.
        QCOMPARE(volume.asked, SECURITY_INFORMATION(DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION));
        QCOMPARE(volume.entries, userAndSystem());
    }
    if (played)
        return;

    // The list stands before the first byte is written, on the file that becomes config.dat.
    const QStringList entries = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(entries.size(), 1);
    const QString saving = dir.filePath(entries[0]);
    QCOMPARE(QFileInfo(saving).size(), 0);
    for (const QString &name : {saving, path}) {
        if (name == path) {
            QCOMPARE(file.write("secret\r\n"), qint64(8));
            QVERIFY(file.commit());
        }
        const FileAccessList list = fileAccessList(name);
        QVERIFY(list.read);
        // Wine keeps only a Unix mode made from the list, which it reads back as SYSTEM's and the
        // owner's entries: no more, but never protected.
        if (underWine())
            QEXPECT_FAIL("", "Wine keeps no access list with a file, only a mode made from it", Continue);
        QVERIFY(list.isProtected);
        QCOMPARE(sorted(list.entries), sorted(userAndSystem()));
    }
}

// The messages the window receives, in order, as QWidget::nativeEvent hands them over, and whether
// the last WM_CLOSE among them is the user's.
void TestPlatformWin::closeOrigin_data()
{
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("users");
    // The close box, the control menu and Alt+F4: DefWindowProc sends WM_CLOSE from within its
    // handling of the command.
    QTest::newRow("close box") << QStringList{"SC_CLOSE", "WM_CLOSE"} << true;
    QTest::newRow("command with the system's low bits") << QStringList{"SC_CLOSE|3", "WM_CLOSE"} << true;
    // taskkill without /F and the task manager's End task: WM_CLOSE alone.
    QTest::newRow("another program") << QStringList{"WM_CLOSE"} << false;
    QTest::newRow("after another command") << QStringList{"SC_MINIMIZE", "WM_CLOSE"} << false;
    QTest::newRow("a close command long before") << QStringList{"SC_CLOSE", "WM_PAINT", "WM_CLOSE"} << false;
    QTest::newRow("close box after another program") << QStringList{"WM_CLOSE", "SC_CLOSE", "WM_CLOSE"} << true;
    QTest::newRow("another program after the close box") << QStringList{"SC_CLOSE", "WM_CLOSE", "WM_CLOSE"} << false;
    // Only Windows' own messages are read.
    QTest::newRow("another kind of event between") << QStringList{"SC_CLOSE", "other", "WM_CLOSE"} << true;
}

void TestPlatformWin::closeOrigin()
{
    QFETCH(QStringList, messages);
    QFETCH(bool, users);
    const QHash<QString, std::pair<UINT, WPARAM>> known{
        {"SC_CLOSE", {WM_SYSCOMMAND, SC_CLOSE}},
        {"SC_CLOSE|3", {WM_SYSCOMMAND, SC_CLOSE | 3}},
        {"SC_MINIMIZE", {WM_SYSCOMMAND, SC_MINIMIZE}},
        {"WM_PAINT", {WM_PAINT, 0}},
        {"WM_CLOSE", {WM_CLOSE, 0}},
    };
    CloseOrigin origin;
    for (const QString &name : messages) {
        if (!known.contains(name)) {
            origin.observe("xcb_generic_event_t", nullptr);
            continue;
        }
        MSG msg{};
        msg.message = known[name].first;
        msg.wParam = known[name].second;
        origin.observe("windows_generic_MSG", &msg);
    }
    QCOMPARE(origin.lastCloseIsUsers(), users);
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
