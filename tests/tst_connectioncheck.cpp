// Whether an open connection's local address is still one of the machine's.
#include "exchange/connectioncheck.h"
#include "exchange/machineaddresses.h"

#include <QTest>

class TestConnectionCheck : public QObject
{
    Q_OBJECT
private slots:
    void localAddressGone_data();
    void localAddressGone();
    void failedReadingIsNotKept();
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

QTEST_GUILESS_MAIN(TestConnectionCheck)
#include "tst_connectioncheck.moc"
