// The network changing under a running client, for real: the client in a network namespace of its
// own, the simulated service in another, joined by a veth pair (tests/netns/run.sh makes them and
// says where). Both carry IPv4 and IPv6: the family the service's name offers decides the
// connection. The machine's address is replaced, as a new lease does; then the path to the service
// stops acknowledging anything, as a router that reboots does, and comes back. A service that
// resets every connection just after its handshake gets one attempt per tick, each an Error event.
//
// Ticks are driven directly, a few seconds apart; the system's own timers run at their real pace.
#include "support/testwindow.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

constexpr quint16 kPort = 8080;
const QString kServer = QStringLiteral("203.0.113.1");
const QString kServerIPv6 = QStringLiteral("2001:db8::1");

struct Request {
    qint64 at; // ms since the test began
    QString from;
    QString localIp;
};

QString env(const char *name)
{
    return qEnvironmentVariable(name);
}

bool ip(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("ip"), arguments) == 0;
}

// Runs nft in the server's namespace with the script on its standard input; its output, or a null
// array when it failed.
QByteArray serverNft(const QByteArray &script,
                     const QStringList &arguments = {QStringLiteral("-f"), QStringLiteral("-")})
{
    QProcess nft;
    nft.start(QStringLiteral("ip"), QStringList{QStringLiteral("netns"), QStringLiteral("exec"),
                                                env("VESTREL_NETNS_SERVER"), QStringLiteral("nft")}
                                        + arguments);
    nft.write(script);
    nft.closeWriteChannel();
    if (!nft.waitForFinished(10000) || nft.exitStatus() != QProcess::NormalExit || nft.exitCode() != 0) {
        qWarning("nft: %s", nft.readAllStandardError().constData());
        return {};
    }
    return nft.readAllStandardOutput() + ' ';
}

} // namespace

class TestNetns : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectsOverIPv4WheneverTheNameHasIt_data();
    void connectsOverIPv4WheneverTheNameHasIt();
    void aResetHandshakeEndsTheAttempt_data();
    void aResetHandshakeEndsTheAttempt();
    void reportsFromTheNewAddressWhenTheOldOneGoes();
    void aPathThatStopsAcknowledgingIsGivenUp();

private:
    // Runs the event loop, ticking the client every tickMs, until done() holds or timeoutMs passes.
    template <typename Done> bool tickUntil(LiveWindow &client, Done done, int tickMs, int timeoutMs);
    template <typename Done> bool tickUntil(Done done, int tickMs, int timeoutMs)
    {
        return tickUntil(*m_client, done, tickMs, timeoutMs);
    }
    void readSimulator();
    int requestsFrom(const QString &address) const;
    void replaceClientAddress(const QString &from, const QString &to);

    QElapsedTimer m_clock;
    QProcess m_sim;
    QByteArray m_simOutput;  // all of it
    QByteArray m_simPending; // not yet a whole line
    QList<Request> m_requests;
    std::unique_ptr<LiveWindow> m_client;
};

void TestNetns::initTestCase()
{
    if (env("VESTREL_NETNS_SERVER").isEmpty())
        QSKIP("run through tests/netns/run.sh, which makes the network namespaces");
    m_clock.start();
    m_sim.start(QStringLiteral("ip"),
                {QStringLiteral("netns"), QStringLiteral("exec"), env("VESTREL_NETNS_SERVER"),
                 QStringLiteral(DDNS_SIM_PATH), QStringLiteral("--listen"), kServer, QStringLiteral("--listen"),
                 kServerIPv6, QStringLiteral("--port"), QString::number(kPort), QStringLiteral("--user"),
                 QStringLiteral("netns"), QStringLiteral("--password"), QStringLiteral("netns")});
    QVERIFY(m_sim.waitForStarted());
    connect(&m_sim, &QProcess::readyReadStandardOutput, this, &TestNetns::readSimulator);
    QTRY_VERIFY_WITH_TIMEOUT(m_simOutput.contains("listening on [2001:db8::1]:8080"), 10000);
    QVERIFY(m_simOutput.contains("listening on 203.0.113.1:8080"));

    m_client = std::make_unique<LiveWindow>(kPort, "\r\nnetns\r\nnetns\r\n0\r\n", kServer);
}

void TestNetns::cleanupTestCase()
{
    m_client.reset();
    if (m_sim.state() != QProcess::NotRunning) {
        m_sim.terminate();
        m_sim.waitForFinished();
    }
}

template <typename Done> bool TestNetns::tickUntil(LiveWindow &client, Done done, int tickMs, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 nextTick = tickMs;
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        if (elapsed.elapsed() >= nextTick) {
            client.tick();
            nextTick += tickMs;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qSleep(5);
    }
    return true;
}

void TestNetns::readSimulator()
{
    const QByteArray chunk = m_sim.readAllStandardOutput();
    m_simOutput += chunk;
    m_simPending += chunk;
    static const QRegularExpression line(QStringLiteral("^request \\d+ user=\\S+ ok from (\\S+) localip=(\\S*)$"));
    qsizetype end;
    while ((end = m_simPending.indexOf('\n')) >= 0) {
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(m_simPending.left(end)));
        m_simPending.remove(0, end + 1);
        if (match.hasMatch())
            m_requests.append({m_clock.elapsed(), match.captured(1), match.captured(2)});
    }
}

int TestNetns::requestsFrom(const QString &address) const
{
    return int(std::count_if(m_requests.cbegin(), m_requests.cend(),
                             [&address](const Request &r) { return r.from == address && r.localIp == address; }));
}

void TestNetns::replaceClientAddress(const QString &from, const QString &to)
{
    const QString link = env("VESTREL_NETNS_CLIENT_LINK");
    QVERIFY(
        ip({QStringLiteral("addr"), QStringLiteral("del"), from + QStringLiteral("/24"), QStringLiteral("dev"), link}));
    QVERIFY(
        ip({QStringLiteral("addr"), QStringLiteral("add"), to + QStringLiteral("/24"), QStringLiteral("dev"), link}));
}

void TestNetns::connectsOverIPv4WheneverTheNameHasIt_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("from"); // empty: no connection
    QTest::addColumn<QString>("error");

    // The service reads a dotted IPv4 address, though the system would rather use IPv6 here.
    QTest::newRow("IPv4 and IPv6") << QStringLiteral("dual.vestrel.test") << QStringLiteral("203.0.113.2") << QString();
    // An IPv6-only network: the address is reported as it stands.
    QTest::newRow("IPv6 only") << QStringLiteral("v6only.vestrel.test") << QStringLiteral("2001:db8::2") << QString();
    QTest::newRow("neither") << QStringLiteral("none.vestrel.test") << QString() << QStringLiteral("Host not found");
}

void TestNetns::connectsOverIPv4WheneverTheNameHasIt()
{
    QFETCH(QString, host);
    QFETCH(QString, from);
    QFETCH(QString, error);
    const QList<QHostAddress> dual = QHostInfo::fromName(QStringLiteral("dual.vestrel.test")).addresses();
    QVERIFY2(dual.contains(QHostAddress(kServer)) && dual.contains(QHostAddress(kServerIPv6)),
             "the names of tests/netns/run.sh do not resolve to both families here");

    LiveWindow client(kPort, "\r\nnetns\r\nnetns\r\n0\r\n", host);
    QSignalSpy errors(&client.socket, &Winsock::Error);
    const qsizetype before = m_requests.size();
    // The tests below count requests from the client's address afresh.
    const auto forget = qScopeGuard([this] { m_requests.clear(); });
    client.window->load();
    if (from.isEmpty()) {
        QVERIFY(tickUntil(
            client, [&] { return !errors.isEmpty(); }, 2000, 10000));
        QTest::qWait(200);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().at(0).value<qint16>(), qint16(11001));
        QCOMPARE(client.window->lblError->text(), error);
        QCOMPARE(m_requests.size(), before);
        return;
    }
    QVERIFY2(tickUntil(
                 client, [&] { return m_requests.size() > before; }, 2000, 10000),
             "no request reached the service");
    QCOMPARE(m_requests.at(before).from, from);
    QCOMPARE(m_requests.at(before).localIp, from);
    QCOMPARE(errors.count(), 0);
}

void TestNetns::aResetHandshakeEndsTheAttempt_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("IPv4") << QStringLiteral("dual.vestrel.test");
    QTest::newRow("IPv6") << QStringLiteral("v6only.vestrel.test");
}

void TestNetns::aResetHandshakeEndsTheAttempt()
{
    QFETCH(QString, host);
    // The service's side lets the handshake through and answers what follows it, the client's
    // acknowledgement, with a reset: a load balancer with no live backend. The reset reaches the
    // client before it has looked at the finished handshake. Every SYN is counted.
    const QByteArray table = "table inet vestrel_reset";
    const QByteArray rules = table
                             + " {\n counter syns { }\n chain input {\n"
                               "  type filter hook input priority 0; policy accept;\n"
                               "  tcp dport "
                             + QByteArray::number(kPort)
                             + " tcp flags & (syn | ack) == syn counter name syns\n"
                               "  tcp dport "
                             + QByteArray::number(kPort)
                             + " tcp flags & (syn | rst) == 0 reject with tcp reset\n"
                               " }\n}\n";
    if (QStandardPaths::findExecutable(QStringLiteral("nft")).isEmpty())
        QSKIP("nft (nftables) is not installed: scripts/install-deps.sh installs it");
    QVERIFY(!serverNft(rules).isNull());
    auto removeRules = qScopeGuard([&] { serverNft("delete " + table + "\n"); });
    const auto syns = [] {
        static const QRegularExpression packets(QStringLiteral("packets (\\d+)"));
        const QByteArray listed =
            serverNft({}, {QStringLiteral("list"), QStringLiteral("counter"), QStringLiteral("inet"),
                           QStringLiteral("vestrel_reset"), QStringLiteral("syns")});
        return packets.match(QString::fromLatin1(listed)).captured(1).toInt();
    };

    LiveWindow client(kPort, "\r\nnetns\r\nnetns\r\n0\r\n", host);
    QSignalSpy errors(&client.socket, &Winsock::Error);
    QSignalSpy connects(&client.socket, &Winsock::ConnectEvent);
    const auto forget = qScopeGuard([this] { m_requests.clear(); });
    const qsizetype before = m_requests.size();
    // Three ticks, as the timer gives them in 20 s; the event loop runs 1.5 s after each.
    constexpr int kTicks = 3;
    for (int tick = 0; tick < kTicks; ++tick) {
        if (tick == 0)
            client.window->load(); // which ticks at once
        else
            client.tick();
        QTest::qWait(1500);
    }
    const int attempts = syns();
    qInfo("netns: %s under resets: %d connection attempts in %d ticks, %lld Error events", qPrintable(host), attempts,
          kTicks, qlonglong(errors.count()));
    QVERIFY2(attempts >= 1 && attempts <= kTicks, qPrintable(QString::number(attempts)));
    QCOMPARE(errors.count(), attempts);
    for (const QList<QVariant> &error : std::as_const(errors)) {
        QCOMPARE(error.at(0).value<qint16>(), qint16(10054));
        QCOMPARE(error.at(1).toString(), QStringLiteral("Connection is reset by remote side"));
    }
    QCOMPARE(client.window->lblError->text(), QStringLiteral("Connection is reset by remote side"));
    QCOMPARE(connects.count(), 0);
    QCOMPARE(m_requests.size(), before);

    // The resets stop: the next tick connects, and the service hears from the client.
    removeRules.dismiss();
    QVERIFY(!serverNft("delete " + table + "\n").isNull());
    client.tick();
    QTRY_VERIFY2_WITH_TIMEOUT(m_requests.size() > before, "no request within one tick of the resets' end", 5000);
    QCOMPARE(connects.count(), 1);
    QCOMPARE(errors.count(), attempts);
}

void TestNetns::reportsFromTheNewAddressWhenTheOldOneGoes()
{
    m_client->window->load();
    QVERIFY2(tickUntil([this] { return requestsFrom(QStringLiteral("203.0.113.2")) > 0; }, 2000, 15000),
             "no request from the first address");

    // Every connection is given the unacknowledged-data limit.
    const auto *tcp = m_client->socket.findChild<QTcpSocket *>();
    QVERIFY(tcp);
    unsigned int limit = 0;
    socklen_t size = sizeof limit;
    QCOMPARE(::getsockopt(int(tcp->socketDescriptor()), IPPROTO_TCP, TCP_USER_TIMEOUT, &limit, &size), 0);
    QCOMPARE(limit, 25000u);

    const qint64 changedAt = m_clock.elapsed();
    replaceClientAddress(QStringLiteral("203.0.113.2"), QStringLiteral("203.0.113.3"));
    // Ticks two seconds apart, for a test that takes seconds; the goal is one ten-second tick.
    QVERIFY2(tickUntil([this] { return requestsFrom(QStringLiteral("203.0.113.3")) > 0; }, 2000, 20000),
             "the service heard nothing from the new address within 20 s");
    const auto first = std::find_if(m_requests.cbegin(), m_requests.cend(),
                                    [](const Request &r) { return r.from == QLatin1String("203.0.113.3"); });
    qInfo("netns: address change to the first request from the new address: %lld ms", first->at - changedAt);
    QCOMPARE(m_client->window->lblMyIP->text(), QStringLiteral("203.0.113.3"));
    QCOMPARE(m_client->socket.findChild<QTcpSocket *>()->localAddress().toString(), QStringLiteral("203.0.113.3"));
}

void TestNetns::aPathThatStopsAcknowledgingIsGivenUp()
{
    QVERIFY2(
        tickUntil([this] { return m_client->window->lblMyIP->text() == QLatin1String("203.0.113.3"); }, 2000, 10000),
        "not logged in from the new address");

    // The path goes away without a word, as behind a router that reboots: every packet to the
    // service is lost from now on, and nothing says so.
    const QStringList blackhole{QStringLiteral("blackhole"), kServer + QStringLiteral("/32")};
    const qint64 lostAt = m_clock.elapsed();
    QVERIFY(ip(QStringList{QStringLiteral("route"), QStringLiteral("add")} + blackhole));
    QVERIFY2(
        tickUntil([this] { return m_client->window->lblError->text() == QLatin1String("Connection timed out"); }, 2500,
                  45000),
        qPrintable(
            QStringLiteral("no time-out shown; the error line reads \"%1\"").arg(m_client->window->lblError->text())));
    const qint64 givenUp = m_clock.elapsed() - lostAt;
    qInfo("netns: path lost to the connection given up: %lld ms", givenUp);
    // The limit, not something sooner, ended it.
    QVERIFY2(givenUp >= 20000, qPrintable(QString::number(givenUp)));

    const qint64 backAt = m_clock.elapsed();
    const qsizetype before = m_requests.size();
    QVERIFY(ip(QStringList{QStringLiteral("route"), QStringLiteral("del")} + blackhole));
    QVERIFY2(tickUntil([&] { return m_requests.size() > before; }, 2500, 40000),
             "no request reached the service within 40 s of the path's return");
    qInfo("netns: path back to the first request: %lld ms", m_requests.at(before).at - backAt);
    // Nothing stale piled up behind the dead connection.
    QTest::qWait(3000);
    for (qsizetype i = before; i + 2 < m_requests.size(); ++i)
        QVERIFY2(m_requests.at(i + 2).at - m_requests.at(i).at >= 2000, "three requests within two seconds");
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestNetns test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_netns.moc"
