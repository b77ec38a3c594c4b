// The Windows program's own answers to the system, with the test playing the system where Wine
// does not: the address callback that Wine never makes, called from a thread of the test's own.
#include "exchange/addresswatcher_win.h"
#include "exchange/machineaddresses.h"

#include <QTest>
#include <QThread>

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

QTEST_GUILESS_MAIN(TestPlatformWin)
#include "tst_platform_win.moc"
