// The program as a process: copies of it in folders of their own, as a user keeps one per account,
// started again, side by side, at the same moment, and after a crash; and the switches it answers
// where no display is. On Linux each test gives the copies a runtime directory of its own; on
// Windows they keep their locks where the program does, under names of their own folders, so that
// they never meet runs in other build trees, or the user's own client.
#include "app/singleinstance.h"
#include "support/testwindow.h"

#include <QDirIterator>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <memory>
#include <vector>

namespace {

// Longer than a second start's patience with a first one still starting.
constexpr int kWait = 30000;
const QByteArray kShownLine = QByteArrayLiteral("a second start asked for the window");
#if defined(Q_OS_WIN)
// A console's text stream ends its lines so.
const QString kEol = QStringLiteral("\r\n");
#else
const QString kEol = QStringLiteral("\n");
#endif

// Where the copies keep their locks: set for each test.
QString g_place;

// A program folder: a copy of the program with its icons.
struct Folder {
    Folder() : names(dir.path(), QStandardPaths::writableLocation(QStandardPaths::HomeLocation), g_place)
    {
        QFile::copy(QStringLiteral(VESTREL_INSTANCE_PATH), program());
    }
#if defined(Q_OS_WIN)
    QString program() const
    {
        return dir.filePath(QStringLiteral("vestrel.exe"));
    }
#else
    QString program() const
    {
        return dir.filePath(QStringLiteral("vestrel"));
    }
#endif
    bool lockLeft() const
    {
        return QFile::exists(names.lockPath());
    }
    // Windows' local sockets are named pipes: nothing stays behind in the file system.
    bool socketLeft() const
    {
        return QFile::exists(names.socketPath());
    }

    AppDir dir;
    const SingleInstance names;
};

// A started copy and what it has logged so far.
struct Started {
    const Folder *folder = nullptr;
    QProcess process;
    QByteArray log;

    const QByteArray &logSoFar()
    {
        log += process.readAllStandardError();
        return log;
    }
    int timesShown() { return int(logSoFar().count(kShownLine)); }
    bool running() const { return process.state() == QProcess::Running; }
    bool ended() const { return process.state() == QProcess::NotRunning; }
    bool endedWell() const
    {
        return ended() && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
};

} // namespace

class TestLaunch : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void secondStartShowsTheFirst_data();
    void secondStartShowsTheFirst();
    void otherFolderRunsBeside();
    void simultaneousStartsLeaveOne();
    void killedHolderDoesNotBlock();
    void switchesNeedNoDisplay_data();
    void switchesNeedNoDisplay();
    void logKeptBesideTheLock();

private:
    // Starts the copy in folder; a logging copy writes its tray lines to its log.
    Started &start(const Folder &folder, const QStringList &arguments = {}, bool logging = false);
    // The copy holds its folder's lock (it is past the point where a second start ends).
    bool holdsLock(const Started &started) const;

    // A folder for a copy, kept until its copies have ended: Windows keeps a running program's file.
    const Folder &newFolder() { return *m_folders.emplace_back(std::make_unique<Folder>()); }

    std::unique_ptr<QTemporaryDir> m_runtime;
    std::vector<std::unique_ptr<Folder>> m_folders;
    std::vector<std::unique_ptr<Started>> m_started;
};

void TestLaunch::init()
{
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtime->isValid());
#if defined(Q_OS_WIN)
    g_place = SingleInstance::defaultPlace();
#else
    g_place = m_runtime->path();
#endif
}

void TestLaunch::cleanup()
{
    for (const auto &started : m_started)
        started->process.kill();
    for (const auto &started : m_started)
        started->process.waitForFinished(kWait);
    m_started.clear();
    m_folders.clear();
}

Started &TestLaunch::start(const Folder &folder, const QStringList &arguments, bool logging)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
    // A Windows GUI program logs to the debugger unless told to use its standard error.
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    if (logging)
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("vestrel.tray.info=true"));
    else
        environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    auto started = std::make_unique<Started>();
    started->folder = &folder;
    started->process.setProcessEnvironment(environment);
    started->process.setWorkingDirectory(folder.dir.path());
    started->process.start(folder.program(), arguments);
    m_started.push_back(std::move(started));
    return *m_started.back();
}

bool TestLaunch::holdsLock(const Started &started) const
{
    qint64 pid = 0;
    return QLockFile(started.folder->names.lockPath()).getLockInfo(&pid, nullptr, nullptr)
           && pid == started.process.processId();
}

void TestLaunch::secondStartShowsTheFirst_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList();
    // Arguments other than the two switches change nothing, as before.
    QTest::newRow("an unknown switch") << QStringList{QStringLiteral("--minimized")};
    QTest::newRow("a file name") << QStringList{QStringLiteral("config.dat")};
}

void TestLaunch::secondStartShowsTheFirst()
{
    QFETCH(QStringList, arguments);
    const Folder &folder = newFolder();
    Started &first = start(folder, arguments, true);
    QTRY_VERIFY_WITH_TIMEOUT(holdsLock(first), kWait);

    Started &second = start(folder, arguments);
    QVERIFY(second.process.waitForFinished(kWait));
    QVERIFY(second.endedWell());
    QTRY_COMPARE_WITH_TIMEOUT(first.timesShown(), 1, kWait);
    QVERIFY(first.running());
    QVERIFY(holdsLock(first));
}

void TestLaunch::otherFolderRunsBeside()
{
    const Folder &one = newFolder();
    const Folder &two = newFolder();
    Started &first = start(one, {}, true);
    QTRY_VERIFY_WITH_TIMEOUT(holdsLock(first), kWait);
    Started &beside = start(two, {}, true);
    QTRY_VERIFY_WITH_TIMEOUT(holdsLock(beside), kWait);

    // Each answers for its own folder only.
    Started &again = start(two);
    QVERIFY(again.process.waitForFinished(kWait));
    QVERIFY(again.endedWell());
    QTRY_COMPARE_WITH_TIMEOUT(beside.timesShown(), 1, kWait);
    QCOMPARE(first.timesShown(), 0);
    QVERIFY(first.running() && beside.running());
}

void TestLaunch::simultaneousStartsLeaveOne()
{
    const Folder &folder = newFolder();
    Started &a = start(folder, {}, true);
    Started &b = start(folder, {}, true);
    QTRY_VERIFY_WITH_TIMEOUT(a.ended() || b.ended(), kWait);

    Started &ended = a.ended() ? a : b;
    Started &runs = a.ended() ? b : a;
    if (!ended.endedWell()) {
        runs.timesShown();
        QFAIL(qPrintable(
            QStringLiteral("exit code %1; it logged: %2; the other logged: %3")
                .arg(ended.process.exitCode())
                .arg(QString::fromLocal8Bit(ended.process.readAllStandardError()), QString::fromLocal8Bit(runs.log))));
    }
    // A holder still busy starting up may take up the request only after the later start has
    // asked again on a new connection: the window is then shown twice over, which looks as once.
    QTRY_VERIFY_WITH_TIMEOUT(runs.timesShown() >= 1, kWait);
    QVERIFY(runs.running());
    QVERIFY(holdsLock(runs));
}

void TestLaunch::killedHolderDoesNotBlock()
{
    const Folder &folder = newFolder();
    Started &killed = start(folder);
#if defined(Q_OS_WIN)
    const bool socketFile = false;
#else
    const bool socketFile = true;
#endif
    QTRY_VERIFY_WITH_TIMEOUT(holdsLock(killed) && folder.socketLeft() == socketFile, kWait);
    killed.process.kill();
    QVERIFY(killed.process.waitForFinished(kWait));
    QCOMPARE(killed.process.exitStatus(), QProcess::CrashExit);
    // What a crash leaves behind.
    QVERIFY(folder.lockLeft());
    QCOMPARE(folder.socketLeft(), socketFile);

    Started &next = start(folder, {}, true);
    QTRY_VERIFY_WITH_TIMEOUT(holdsLock(next), kWait);
    Started &again = start(folder);
    QVERIFY(again.process.waitForFinished(kWait));
    QVERIFY(again.endedWell());
    QTRY_COMPARE_WITH_TIMEOUT(next.timesShown(), 1, kWait);
    QVERIFY(next.running());
}

void TestLaunch::switchesNeedNoDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");
    const QString version =
        QStringLiteral("^vestrel %1%2$").arg(QRegularExpression::escape(QStringLiteral(VESTREL_VERSION)), kEol);
    const QString usage = QStringLiteral("^Usage: vestrel .*--help.*--version.*tray");
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << version;
    QTest::newRow("-v") << QStringList{QStringLiteral("-v")} << version;
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << usage;
    QTest::newRow("-h") << QStringList{QStringLiteral("-h")} << usage;
    QTest::newRow("after another argument")
        << QStringList{QStringLiteral("--minimized"), QStringLiteral("--version")} << version;
}

void TestLaunch::switchesNeedNoDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    const Folder &folder = newFolder();
    // No display of any kind, and no platform told: the GUI could not start here.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(folder.program(), arguments);
    QVERIFY2(process.waitForFinished(kWait), qPrintable(process.errorString()));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString printed = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(QRegularExpression(output, QRegularExpression::DotMatchesEverythingOption).match(printed).hasMatch(),
             qPrintable(printed));
    QVERIFY(!folder.lockLeft() && !folder.socketLeft());
}

// A Windows program without a console has its lines sent to the debugger, so it keeps them in a
// file beside the lock as well; elsewhere standard error is the log and no file is kept. Nothing
// listens on the copy's port: the failed connection is a warning, logged by default.
void TestLaunch::logKeptBesideTheLock()
{
    const QByteArray password = QByteArrayLiteral("launch-s3cret");
    const Folder &folder = newFolder();
    folder.dir.writeConfig("\r\nlogger\r\n" + password + "\r\n0\r\n");
    Started &started = start(folder);
    QTRY_VERIFY_WITH_TIMEOUT(started.logSoFar().contains("vestrel.exchange: socket error"), kWait);
#if defined(Q_OS_WIN)
    // The place is shared with every copy the tests start: this copy's lines are those with its process.
    const QString process = QStringLiteral(" %1 ").arg(started.process.processId());
    const auto ours = [&] {
        QStringList lines;
        for (const QString &name : {QStringLiteral("vestrel.old.log"), QStringLiteral("vestrel.log")}) {
            QFile file(QDir(g_place).filePath(name));
            if (file.open(QIODevice::ReadOnly | QIODevice::Text))
                lines << QString::fromUtf8(file.readAll()).split(u'\n').filter(process);
        }
        return lines;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!ours().filter(QStringLiteral(" warning vestrel.exchange: socket error")).isEmpty(),
                             kWait);
    for (const QString &line : ours())
        QVERIFY2(!line.contains(QString::fromLatin1(password)), qPrintable(line));
#else
    QStringList kept;
    for (QDirIterator it(m_runtime->path(), {QStringLiteral("*.log")}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();)
        kept << it.next();
    QCOMPARE(kept, QStringList());
#endif
}

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
