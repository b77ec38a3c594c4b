// Whether an open connection's local address is still one of the machine's, and whether the system
// has given a connection up.
#include "exchange/connectioncheck.h"
#include "exchange/machineaddresses.h"
#include "exchange/tcpoptions.h"
#include "support/exchangelines.h"
#include "support/wine.h"

#include <QTest>

#include <cerrno>

class TestConnectionCheck : public QObject
{
    Q_OBJECT
private slots:
    void localAddressGone_data();
    void localAddressGone();
    void failedReadingIsNotKept();
    void addressChangesAreReported();
    void socketFailure_data();
    void socketFailure();
    void judgeFailure_data();
    void judgeFailure();
};

void TestConnectionCheck::localAddressGone_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QStringList>("machine");
    QTest::addColumn<bool>("gone");

    const QStringList machine{"127.0.0.1", "::1", "192.0.2.10", "2001:db8::10", "fe80::1%2"};
    QTest::newRow("present") << "192.0.2.10" << machine << false;
    QTest::newRow("absent: the lease changed") << "192.0.2.11" << machine << true;
    QTest::newRow("IPv4-mapped, present") << "::ffff:192.0.2.10" << machine << false;
    QTest::newRow("IPv4-mapped, absent") << "::ffff:192.0.2.11" << machine << true;
    QTest::newRow("IPv6 present") << "2001:db8::10" << machine << false;
    QTest::newRow("IPv6 absent") << "2001:db8::11" << machine << true;
    QTest::newRow("link-local, other scope") << "fe80::1%3" << machine << false;
    QTest::newRow("machine list could not be read") << "192.0.2.10" << QStringList{} << false;
    QTest::newRow("local address not known") << "" << machine << false;
}

void TestConnectionCheck::localAddressGone()
{
    QFETCH(QString, local);
    QFETCH(QStringList, machine);
    QFETCH(bool, gone);

    QList<QHostAddress> addresses;
    for (const QString &a : std::as_const(machine))
        addresses << QHostAddress(a);
    QCOMPARE(::localAddressGone(QHostAddress(local), addresses), gone);
}

// A reading that found nothing (the query failed) is read again at the next call, even where the
// system reports changes and a good reading would be kept until the next report.
void TestConnectionCheck::failedReadingIsNotKept()
{
    const QList<QHostAddress> good{QHostAddress::LocalHost, QHostAddress(QStringLiteral("192.0.2.10"))};
    QList<QList<QHostAddress>> readings{{}, good};
    int reads = 0;
    MachineAddresses machine([&] {
        ++reads;
        return readings.isEmpty() ? good : readings.takeFirst();
    });
    QVERIFY(machine.addresses().isEmpty());
    QCOMPARE(machine.addresses(), good);
    QCOMPARE(reads, 2);
    machine.addresses();
    QCOMPARE(reads, machine.watching() ? 2 : 3);
}

// Windows reports changes of the machine's addresses, as netlink does on Linux; where it does not, the
// log says so, and the list is read at every call (above).
void TestConnectionCheck::addressChangesAreReported()
{
    keepExchangeLines();
    const qsizetype before = exchangeLinesWith(QStringLiteral("does not report changes of the machine's addresses"));
    const MachineAddresses machine;
#if defined(Q_OS_WIN)
    if (underWine())
        QEXPECT_FAIL("",
                     "Wine's NotifyUnicastIpAddressChange (8 and 10) is a stub: NO_ERROR, no handle, never a report",
                     Continue);
#endif
    QVERIFY(machine.watching());
    QCOMPARE(exchangeLinesWith(QStringLiteral("does not report changes of the machine's addresses")) - before,
             machine.watching() ? 0 : 1);
}

// What Qt's report of a failed connection says the system did. Qt files the system's time-out under
// an error and a text of each system's own; Windows' rows are in tst_platform_win.
void TestConnectionCheck::socketFailure_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("failure");
    const int timedOut = int(SocketFailure::TimedOut);
    QTest::newRow("Qt's own time-out") << int(QAbstractSocket::SocketTimeoutError) << QString() << timedOut;
    QTest::newRow("closed by the peer") << int(QAbstractSocket::RemoteHostClosedError)
                                        << QStringLiteral("The remote host closed the connection")
                                        << int(SocketFailure::Ended);
    QTest::newRow("refused") << int(QAbstractSocket::ConnectionRefusedError) << QStringLiteral("Connection refused")
                             << int(SocketFailure::Other);
#if defined(Q_OS_LINUX)
    QTest::newRow("connect timed out") << int(QAbstractSocket::NetworkError) << qt_error_string(ETIMEDOUT) << timedOut;
    QTest::newRow("another network error")
        << int(QAbstractSocket::NetworkError) << qt_error_string(ENETUNREACH) << int(SocketFailure::Other);
#endif
}

void TestConnectionCheck::socketFailure()
{
    QFETCH(int, error);
    QFETCH(QString, text);
    QFETCH(int, failure);
    QCOMPARE(int(::socketFailure(QAbstractSocket::SocketError(error), text)), failure);
}

// A connection that ends once the client's data has waited for the whole limit was given up by the
// system, however Qt files the end; before that, a peer's end is a quiet close.
void TestConnectionCheck::judgeFailure_data()
{
    QTest::addColumn<int>("failure");
    QTest::addColumn<qint64>("waitedMs");
    QTest::addColumn<int>("shown");
    const int ended = int(SocketFailure::Ended);
    QTest::newRow("time-out, nothing waiting")
        << int(SocketFailure::TimedOut) << qint64(-1) << int(FailureShown::TimedOut);
    QTest::newRow("ended, nothing waiting") << ended << qint64(-1) << int(FailureShown::Closed);
    QTest::newRow("ended, waited 10 s") << ended << qint64(10000) << int(FailureShown::Closed);
    QTest::newRow("ended, waited the limit") << ended << qint64(kUnacknowledgedLimitMs) << int(FailureShown::TimedOut);
    QTest::newRow("other, nothing waiting") << int(SocketFailure::Other) << qint64(-1) << int(FailureShown::Error);
}

void TestConnectionCheck::judgeFailure()
{
    QFETCH(int, failure);
    QFETCH(qint64, waitedMs);
    QFETCH(int, shown);
    QCOMPARE(int(::judgeFailure(SocketFailure(failure), waitedMs)), shown);
}

QTEST_GUILESS_MAIN(TestConnectionCheck)
#include "tst_connectioncheck.moc"
