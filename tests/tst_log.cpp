// The log a user reads when something goes wrong: one line per change of state, against the
// simulated service on 127.0.0.1; quiet by default; never the password or the cookie.
#include "app/exchangelog.h"
#include "servicesimulator.h"
#include "support/testwindow.h"
#include "support/wine.h"

#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTest>

namespace {

constexpr int kWait = 5000;
const QString kPassword = QStringLiteral("s3cret-Passw0rd");

QStringList g_lines;
// What the program says once about something the system lacks, kept apart from the changes of state.
QStringList g_systemNotes;

void keepOurs(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (context.category && QByteArray(context.category).startsWith("vestrel."))
        (message.startsWith(QLatin1String("the system does not ")) ? g_systemNotes : g_lines)
            << QLatin1String(context.category) + QLatin1String(": ") + message;
}

} // namespace

class TestLog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void oneLinePerChangeOfState();
    void quietByDefault();
    void serviceTextCannotForgeALine_data();
    void serviceTextCannotForgeALine();
};

void TestLog::init()
{
    g_lines.clear();
    g_systemNotes.clear();
    qInstallMessageHandler(keepOurs);
}

void TestLog::cleanup()
{
    qInstallMessageHandler(nullptr);
    QLoggingCategory::setFilterRules(QString());
}

void TestLog::oneLinePerChangeOfState()
{
    QLoggingCategory::setFilterRules(QStringLiteral("vestrel.*.info=true"));
    ServiceSimulator sim;
    sim.setAccount(QStringLiteral("logger"), kPassword);
    QVERIFY(sim.listen());
    const QString at = QStringLiteral("127.0.0.1:%1").arg(sim.port());
    LiveWindow c(sim.port(), "\r\nlogger\r\n" + kPassword.toUtf8() + "\r\n0\r\n");

    // A login, then ticks that change nothing.
    c.window->load();
    QTRY_COMPARE_WITH_TIMEOUT(c.window->cmdConnect->text(), QStringLiteral("Connected"), kWait);
    for (int i = 0; i < 3; ++i) {
        c.tick();
        QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 2 + i, kWait);
    }
    QTest::qWait(100);
    QStringList expected{
        QStringLiteral("vestrel.settings: account loaded from ")
            + QDir::toNativeSeparators(c.dir.filePath(QStringLiteral("config.dat"))),
        QStringLiteral("vestrel.exchange: connected to ") + at + QStringLiteral(" from 127.0.0.1"),
        QStringLiteral("vestrel.exchange: local address is 127.0.0.1"),
        QStringLiteral("vestrel.exchange: login succeeded; the service holds 127.0.0.1"),
    };
    QCOMPARE(g_lines, expected);

    // A wrong password: one line however many ticks fail.
    c.window->txtPassword->setText(QStringLiteral("not-the-password"));
    for (int i = 0; i < 3; ++i) {
        c.tick();
        QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 5 + i, kWait);
    }
    QTRY_COMPARE_WITH_TIMEOUT(c.window->cmdConnect->text(), QStringLiteral("Disconnect"), kWait);
    QTest::qWait(100);
    expected << QStringLiteral("vestrel.exchange: login failed: username or password may be incorrect (the "
                               "service holds 127.0.0.1)");
    QCOMPARE(g_lines, expected);

    // The service drops the connection: lost, then made again on the tick after the reset.
    const quint16 port = sim.port();
    sim.close();
    QVERIFY(sim.listen(port));
    QTRY_VERIFY_WITH_TIMEOUT(c.socket.State() != Winsock::sckConnected, kWait);
    c.tick();
    c.tick();
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 7, kWait);
    QTest::qWait(100);
    expected << QStringLiteral("vestrel.exchange: connection to 127.0.0.1 closed by the service; reconnecting")
             << QStringLiteral("vestrel.exchange: connected to ") + at + QStringLiteral(" from 127.0.0.1");
    QCOMPARE(g_lines, expected);

    // Windows 10 1703 and later lacks none of what the connections use. Wine lacks three, and each is
    // said once, not at every connection or tick.
    if (underWine())
        QEXPECT_FAIL("", "Wine (8 and 10) lacks address reports, TCP_MAXRT and SIO_TCP_INFO", Continue);
    QCOMPARE(g_systemNotes, QStringList());
    if (underWine())
        QCOMPARE(g_systemNotes.size(), 3);

    for (const QString &line : std::as_const(g_lines)) {
        QVERIFY2(!line.contains(kPassword) && !line.contains(QLatin1String("not-the-password")), qPrintable(line));
        QVERIFY2(!line.contains(QString::fromLatin1(sim.lastToken())), qPrintable(line));
        QVERIFY2(!line.contains(c.window->strCookie), qPrintable(line));
    }
}

void TestLog::quietByDefault()
{
    ServiceSimulator sim;
    sim.setAccount(QStringLiteral("logger"), kPassword);
    QVERIFY(sim.listen());
    LiveWindow c(sim.port(), "\r\nlogger\r\n" + kPassword.toUtf8() + "\r\n0\r\n");
    c.window->load();
    QTRY_COMPARE_WITH_TIMEOUT(c.window->cmdConnect->text(), QStringLiteral("Connected"), kWait);
    c.tick();
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 2, kWait);
    QCOMPARE(g_lines, QStringList());
}

void TestLog::serviceTextCannotForgeALine_data()
{
    QTest::addColumn<QString>("held");
    QTest::addColumn<QString>("written");
    QTest::newRow("line breaks") << QStringLiteral("1.2.3.4\r\nvestrel.exchange: forged")
                                 << QStringLiteral("1.2.3.4\\x0d\\x0avestrel.exchange: forged");
    // Reply bytes 0x80 to 0x9F arrive as these characters: CSI starts a terminal's escape
    // sequence, NEL ends a line in some viewers.
    QTest::newRow("C1 controls") << QStringLiteral("1.2.3.4\u009b2J\u0085forged\u0080")
                                 << QStringLiteral("1.2.3.4\\x9b2J\\x85forged\\x80");
    QTest::newRow("printable Latin-1 stays")
        << QStringLiteral("caf\u00e9 \u00a0") << QStringLiteral("caf\u00e9 \u00a0");
}

void TestLog::serviceTextCannotForgeALine()
{
    QFETCH(QString, held);
    QFETCH(QString, written);
    QLoggingCategory::setFilterRules(QStringLiteral("vestrel.*.info=true"));
    ExchangeLog log;
    log.outcome(true, held);
    QCOMPARE(g_lines, QStringList{QStringLiteral("vestrel.exchange: login succeeded; the service holds ") + written});
}

QTEST_MAIN(TestLog)
#include "tst_log.moc"
