// The log a user reads when something goes wrong: one line per change of state, against the
// simulated service on 127.0.0.1; quiet by default; never the password or the cookie; kept in a
// capped file as well, where a system needs one.
#include "app/exchangelog.h"
#include "core/logfile.h"
#include "core/logging.h"
#include "servicesimulator.h"
#include "support/testwindow.h"
#include "support/wine.h"

#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QRegularExpression>
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

// A log file's lines, as a text editor shows them.
QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

void writeLines(const QString &path, const QStringList &lines)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
    for (const QString &line : lines)
        file.write(line.toUtf8() + '\n');
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
    void fileKeepsTheLog_data();
    void fileKeepsTheLog();
    void fileLinesGoOnToTheHandlerBefore();
};

void TestLog::init()
{
    g_lines.clear();
    g_systemNotes.clear();
    qInstallMessageHandler(keepOurs);
}

void TestLog::cleanup()
{
    removeLogFile();
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
    // Before the window, whose socket says at once what the system lacks.
    const QTemporaryDir logDir;
    const QString file = logDir.filePath(QStringLiteral("vestrel.log"));
    installLogFile(file);
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

    // The file holds the same lines, the failed login's warning among them, and no more secrets.
    const QStringList kept = fileLines(file);
    QStringList ours;
    QStringList notes;
    for (const QString &line : kept) {
        const QString logged = line.mid(line.indexOf(QLatin1String(" vestrel.")) + 1);
        if (line.contains(QLatin1String(" vestrel.")))
            (logged.contains(QLatin1String(": the system does not ")) ? notes : ours) << logged;
    }
    QCOMPARE(ours, g_lines);
    QCOMPARE(notes, g_systemNotes);
    QVERIFY(kept.filter(QLatin1String(" warning vestrel.exchange: login failed")).size() == 1);
    for (const QString &line : kept + g_lines) {
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

// What a file holds, and its older one, after lines are appended at a cap; "-" is no file.
void TestLog::fileKeepsTheLog_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("olderBefore");
    QTest::addColumn<qint64>("cap");
    QTest::addColumn<QStringList>("appended");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QStringList>("olderAfter");
    const QStringList none{QStringLiteral("-")};
    const QStringList two{QStringLiteral("aaaaaaaaaa"), QStringLiteral("bbbbbbbbbb")};
    const QStringList third{QStringLiteral("cccccccccc")};
    const QString longLine(40, u'x');

    QTest::newRow("a first line") << none << none << qint64(1000) << third << third << none;
    QTest::newRow("appended to an earlier run's") << two << none << qint64(1000) << third << two + third << none;
    // Two lines of 11 bytes (12 with CR LF) fit in 30; the third does not.
    QTest::newRow("a full file becomes the older one") << two << none << qint64(30) << third << third << two;
    QTest::newRow("the older one is replaced")
        << two << QStringList{QStringLiteral("oldest")} << qint64(30) << third << third << two;
    QTest::newRow("a line longer than the cap, then another")
        << none << none << qint64(10) << QStringList{longLine, QStringLiteral("y")} << QStringList{QStringLiteral("y")}
        << QStringList{longLine};
    // An older "file" that cannot be replaced (here a folder): the cap still holds.
    QTest::newRow("the older one cannot be replaced")
        << two << QStringList{QStringLiteral("/")} << qint64(30) << third << third << QStringList{QStringLiteral("/")};
}

void TestLog::fileKeepsTheLog()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, olderBefore);
    QFETCH(qint64, cap);
    QFETCH(QStringList, appended);
    QFETCH(QStringList, after);
    QFETCH(QStringList, olderAfter);
    const QTemporaryDir dir;
    LogFile log(dir.filePath(QStringLiteral("vestrel.log")), cap);
    QCOMPARE(log.olderPath(), dir.filePath(QStringLiteral("vestrel.old.log")));
    const auto lay = [](const QString &path, const QStringList &lines) {
        if (lines == QStringList{QStringLiteral("/")})
            QDir(path).mkpath(QStringLiteral("in-use"));
        else if (lines != QStringList{QStringLiteral("-")})
            writeLines(path, lines);
    };
    const auto read = [](const QString &path) {
        if (QFileInfo(path).isDir())
            return QStringList{QStringLiteral("/")};
        return QFile::exists(path) ? fileLines(path) : QStringList{QStringLiteral("-")};
    };
    lay(log.path(), before);
    lay(log.olderPath(), olderBefore);
    for (const QString &line : appended)
        log.append(line);
    QCOMPARE(read(log.path()), after);
    QCOMPARE(read(log.olderPath()), olderAfter);
}

// Every line goes to the file with its time, process and kind, as Qt formats it, and on to the
// handler installed before, which is back once the file is removed.
void TestLog::fileLinesGoOnToTheHandlerBefore()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vestrel.log"));
    installLogFile(path);
    qCWarning(lcTray) << "one warning";
    qCInfo(lcTray) << "info, filtered out by default";
    QLoggingCategory::setFilterRules(QStringLiteral("vestrel.*.info=true"));
    qCInfo(lcSettings, "an info line with \u00e4");
    removeLogFile();
    qCWarning(lcTray) << "after the file";

    QCOMPARE(g_lines, (QStringList{QStringLiteral("vestrel.tray: one warning"),
                                   QStringLiteral("vestrel.settings: an info line with \u00e4"),
                                   QStringLiteral("vestrel.tray: after the file")}));
    const QStringList kept = fileLines(path);
    QCOMPARE(kept.size(), 2);
    const QString start = QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} %1 ")
                              .arg(QCoreApplication::applicationPid());
    QVERIFY2(
        QRegularExpression(start + QStringLiteral("warning vestrel\\.tray: one warning$")).match(kept[0]).hasMatch(),
        qPrintable(kept[0]));
    QVERIFY2(QRegularExpression(start + QStringLiteral("info vestrel\\.settings: an info line with \u00e4$"))
                 .match(kept[1])
                 .hasMatch(),
             qPrintable(kept[1]));
}

QTEST_MAIN(TestLog)
#include "tst_log.moc"
