// One client per program folder, in one process: the lock, the socket and the request to show the
// window. A start that has to wait for an answer runs on a thread of its own, so that the holder,
// on this thread's event loop, can give one.
#include "app/instanceplace.h"
#include "app/singleinstance.h"
#include "support/wine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <chrono>
#include <memory>
#include <string>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

using namespace std::chrono_literals;

namespace {

const QString kHome = QStringLiteral("/home/tern");

// A start on a thread of its own. It ends there, letting go of whatever it took.
class LaterStart
{
public:
    LaterStart(const QString &folder, const QString &home, const QString &place, std::chrono::milliseconds patience)
        : m_thread(QThread::create([=, this] {
              SingleInstance later(folder, home, place);
              m_claim = later.claim(patience);
              m_held = later.holdsLock();
          }))
    {
        m_thread->start();
    }
    ~LaterStart() { m_thread->wait(); }

    // Runs this thread's event loop meanwhile, so that a holder here can answer.
    SingleInstance::Claim result()
    {
        while (!m_thread->wait(QDeadlineTimer(10)))
            QCoreApplication::processEvents();
        return m_claim;
    }
    bool held() const { return m_held; }

private:
    std::unique_ptr<QThread> m_thread;
    SingleInstance::Claim m_claim = SingleInstance::Claim::NoAnswer;
    bool m_held = false;
};

SingleInstance::Claim claimMeanwhile(const QString &folder, const QString &home, const QString &place,
                                     std::chrono::milliseconds patience)
{
    return LaterStart(folder, home, place, patience).result();
}

// The PID of a process that has ended.
qint64 deadPid()
{
    QProcess shell;
#if defined(Q_OS_WIN)
    shell.start(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), QStringLiteral("exit")});
#else
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit")});
#endif
    if (!shell.waitForStarted())
        return 0;
    const qint64 pid = shell.processId();
    return shell.waitForFinished() && shell.exitCode() == 0 ? pid : 0;
}

// The holder's window, as far as a later start can tell: it answers every request with shown.
void answering(SingleInstance &holder, bool shown = true)
{
    QObject::connect(&holder, &SingleInstance::showRequested, &holder,
                     [&holder, shown] { holder.answerShowRequests(shown); });
}

bool isRoot()
{
#if defined(Q_OS_UNIX)
    return ::geteuid() == 0;
#else
    return false;
#endif
}

// Hands a file over to another user, as a squatter's would be.
bool giveAway(const QString &path)
{
#if defined(Q_OS_UNIX)
    return ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
#else
    Q_UNUSED(path);
    return false;
#endif
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void secondStartShowsTheFirst_data();
    void secondStartShowsTheFirst();
    void otherFolderOrUserStartsBeside_data();
    void otherFolderOrUserStartsBeside();
    void leftoversOfADeadHolderDoNotBlock_data();
    void leftoversOfADeadHolderDoNotBlock();
    void holderThatDoesNotAnswer_data();
    void holderThatDoesNotAnswer();
    void noPlaceForTheLockStillStarts();
    void windowNotShownIsNotReportedShown();
    void requestBeforeTheWindowWaitsForIt();
    void connectionNeverTakenUpIsMadeAfresh();
    void otherUsersFilesAreNotTrusted_data();
    void otherUsersFilesAreNotTrusted();
    void oneFolderSpelledOtherwise_data();
    void oneFolderSpelledOtherwise();
    void socketOfAnotherProcessIsNotBelieved();

private:
    QString folder(const QString &name) const { return m_root->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<QTemporaryDir> m_place;
};

void TestSingleInstance::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    m_place = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid() && m_place->isValid());
    QDir root(m_root->path());
    QVERIFY(root.mkpath(QStringLiteral("one/sub")) && root.mkpath(QStringLiteral("two")));
    QVERIFY(QFile::link(folder(QStringLiteral("one")), folder(QStringLiteral("link-to-one"))));
}

void TestSingleInstance::secondStartShowsTheFirst_data()
{
    QTest::addColumn<QString>("second");
    QTest::newRow("same path") << QStringLiteral("one");
#if !defined(Q_OS_WIN)
    // On Windows QFile::link makes a shell shortcut (.lnk), a file and no way into the folder.
    QTest::newRow("through a link") << QStringLiteral("link-to-one");
#endif
    QTest::newRow("roundabout path") << QStringLiteral("one/sub/../");
}

void TestSingleInstance::secondStartShowsTheFirst()
{
    QFETCH(QString, second);
    SingleInstance first(folder(QStringLiteral("one")), kHome, m_place->path());
    answering(first);
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    QCOMPARE(first.claim(), SingleInstance::Claim::Start);
    QVERIFY(first.holdsLock());

    QCOMPARE(claimMeanwhile(folder(second), kHome, m_place->path(), 10s), SingleInstance::Claim::Shown);
    QCOMPARE(shown.count(), 1);
    // The first keeps the folder: a third start is sent to it as well.
    QCOMPARE(claimMeanwhile(folder(second), kHome, m_place->path(), 10s), SingleInstance::Claim::Shown);
    QCOMPARE(shown.count(), 2);
}

void TestSingleInstance::otherFolderOrUserStartsBeside_data()
{
    QTest::addColumn<QString>("otherFolder");
    QTest::addColumn<QString>("otherHome");
    QTest::newRow("other folder") << QStringLiteral("two") << kHome;
    QTest::newRow("folder inside") << QStringLiteral("one/sub") << kHome;
    QTest::newRow("other user") << QStringLiteral("one") << QStringLiteral("/home/skua");
}

void TestSingleInstance::otherFolderOrUserStartsBeside()
{
    QFETCH(QString, otherFolder);
    QFETCH(QString, otherHome);
    SingleInstance first(folder(QStringLiteral("one")), kHome, m_place->path());
    QCOMPARE(first.claim(), SingleInstance::Claim::Start);
    SingleInstance other(folder(otherFolder), otherHome, m_place->path());
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    QCOMPARE(other.claim(1s), SingleInstance::Claim::Start);
    QVERIFY(first.holdsLock() && other.holdsLock());
    QVERIFY(other.socketPath() != first.socketPath());

    // Each answers for its own folder only.
    answering(first);
    answering(other);
    QSignalSpy otherShown(&other, &SingleInstance::showRequested);
    QCOMPARE(claimMeanwhile(folder(otherFolder), otherHome, m_place->path(), 10s), SingleInstance::Claim::Shown);
    QCOMPARE(otherShown.count(), 1);
    QCOMPARE(shown.count(), 0);
}

void TestSingleInstance::leftoversOfADeadHolderDoNotBlock_data()
{
    QTest::addColumn<bool>("socketLeft");
    QTest::addColumn<bool>("pidReused"); // the dead holder's process ID is this start's own now
    QTest::newRow("lock file") << false << false;
    QTest::newRow("lock and socket files") << true << false;
    // After a reboot, or under Wine at once, the next start may get the dead holder's ID.
    QTest::newRow("lock naming this start's own process") << false << true;
}

void TestSingleInstance::leftoversOfADeadHolderDoNotBlock()
{
    QFETCH(bool, socketLeft);
    QFETCH(bool, pidReused);
    SingleInstance next(folder(QStringLiteral("one")), kHome, m_place->path());
    answering(next);
    QSignalSpy shown(&next, &SingleInstance::showRequested);

    // A lock file as QLockFile writes it, but naming a process that has ended.
    QByteArray contents;
    {
        QLockFile scratch(m_place->filePath(QStringLiteral("scratch.lock")));
        QVERIFY(scratch.tryLock(0));
        QFile written(m_place->filePath(QStringLiteral("scratch.lock")));
        QVERIFY(written.open(QIODevice::ReadOnly));
        contents = written.readAll();
    }
    const qint64 pid = pidReused ? QCoreApplication::applicationPid() : deadPid();
    QVERIFY(pid > 0);
    contents = QByteArray::number(pid) + contents.mid(contents.indexOf('\n'));
    QFile left(next.lockPath());
    QVERIFY(left.open(QIODevice::WriteOnly) && left.write(contents) == contents.size());
    left.close();
    if (socketLeft) {
        QFile socket(next.socketPath());
        QVERIFY(socket.open(QIODevice::WriteOnly));
    }

    QCOMPARE(next.claim(1s), SingleInstance::Claim::Start);
    QVERIFY(next.holdsLock());
    // It listens where the dead one's socket was.
    QCOMPARE(claimMeanwhile(folder(QStringLiteral("one")), kHome, m_place->path(), 10s), SingleInstance::Claim::Shown);
    QCOMPARE(shown.count(), 1);
}

void TestSingleInstance::holderThatDoesNotAnswer_data()
{
    QTest::addColumn<bool>("letsGo");
    QTest::addColumn<int>("patience");
    QTest::addColumn<SingleInstance::Claim>("expected");
    QTest::newRow("lets go of the lock meanwhile") << true << 10000 << SingleInstance::Claim::Start;
    QTest::newRow("keeps the lock") << false << 300 << SingleInstance::Claim::NoAnswer;
}

// The holder has the lock but no socket: it is still starting, or on its way out, or stuck.
void TestSingleInstance::holderThatDoesNotAnswer()
{
    QFETCH(bool, letsGo);
    QFETCH(int, patience);
    QFETCH(SingleInstance::Claim, expected);
    const SingleInstance names(folder(QStringLiteral("one")), kHome, m_place->path());
    QLockFile holder(names.lockPath());
    QVERIFY(holder.tryLock(0));
    if (expected == SingleInstance::Claim::NoAnswer)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("does not answer")));

    LaterStart later(folder(QStringLiteral("one")), kHome, m_place->path(), std::chrono::milliseconds(patience));
    if (letsGo) {
        // Long enough for the later start to have found the lock taken and the socket missing.
        QTest::qWait(300);
        holder.unlock();
    }
    QCOMPARE(later.result(), expected);
    QCOMPARE(later.held(), expected == SingleInstance::Claim::Start);
}

// Where no lock can be made at all, the client runs unguarded rather than not at all.
void TestSingleInstance::noPlaceForTheLockStillStarts()
{
    SingleInstance first(folder(QStringLiteral("one")), kHome, m_place->filePath(QStringLiteral("gone")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("without the one-at-a-time guard")));
    QCOMPARE(first.claim(1s), SingleInstance::Claim::Start);
    QVERIFY(!first.holdsLock());
}

// A holder that could not show its window (its failure box is up, it is on its way out) says so:
// the later start keeps trying for the lock, and gives up without claiming a window appeared.
void TestSingleInstance::windowNotShownIsNotReportedShown()
{
    SingleInstance first(folder(QStringLiteral("one")), kHome, m_place->path());
    answering(first, false);
    QSignalSpy asked(&first, &SingleInstance::showRequested);
    QCOMPARE(first.claim(), SingleInstance::Claim::Start);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("does not answer")));
    QCOMPARE(claimMeanwhile(folder(QStringLiteral("one")), kHome, m_place->path(), 500ms),
             SingleInstance::Claim::NoAnswer);
    QVERIFY(asked.count() >= 1);
}

// The holder takes the lock before its window exists, and the system may deliver a request while
// the window is being made: that request is acted on and answered once the window's handler is
// there, never dropped. The later start then ends at once and does not ask again.
void TestSingleInstance::requestBeforeTheWindowWaitsForIt()
{
    SingleInstance first(folder(QStringLiteral("one")), kHome, m_place->path());
    QCOMPARE(first.claim(), SingleInstance::Claim::Start);
    LaterStart later(folder(QStringLiteral("one")), kHome, m_place->path(), 5s);
    // Long enough for the request to have come in with nothing to take it.
    QTest::qWait(500);

    int asked = 0;
    QObject::connect(&first, &SingleInstance::showRequested, &first, [&first, &asked] {
        ++asked;
        first.answerShowRequests(true);
    });
    QCOMPARE(later.result(), SingleInstance::Claim::Shown);
    QCOMPARE(asked, 1);
}

// A connection made while the holder was setting up its server can go unseen by it (as under
// Wine): the later start asks again on a new one instead of spending all its patience there.
void TestSingleInstance::connectionNeverTakenUpIsMadeAfresh()
{
    const SingleInstance names(folder(QStringLiteral("one")), kHome, m_place->path());
    QLockFile lock(names.lockPath());
    QVERIFY(lock.tryLock(0));
    QLocalServer holder;
    QVERIFY(holder.listen(names.socketPath()));
    int connections = 0;
    QObject::connect(&holder, &QLocalServer::newConnection, &holder, [&] {
        QLocalSocket *client = holder.nextPendingConnection();
        if (++connections == 1)
            return; // never read: the unseen connection
        QObject::connect(client, &QLocalSocket::readyRead, client, [client] {
            if (client->canReadLine() && client->readLine() == "show\n")
                client->write("asked\nshown\n");
        });
    });
    QCOMPARE(claimMeanwhile(folder(QStringLiteral("one")), kHome, m_place->path(), 10s), SingleInstance::Claim::Shown);
    QCOMPARE(connections, 2);
}

void TestSingleInstance::otherUsersFilesAreNotTrusted_data()
{
    QTest::addColumn<QString>("squatted");
    QTest::newRow("lock, in a place anyone can write") << QStringLiteral("lock");
    QTest::newRow("the private folder itself, without a runtime directory") << QStringLiteral("folder");
}

// Another local user who makes the lock first, or the folder it lives in, must not keep this user's
// client from starting: such files are not believed, and the client starts (unguarded at worst).
void TestSingleInstance::otherUsersFilesAreNotTrusted()
{
    QFETCH(QString, squatted);
    if (!isRoot())
        QSKIP("handing files to another user needs root");
    if (squatted == QLatin1String("lock")) {
        SingleInstance victim(folder(QStringLiteral("one")), kHome, m_place->path());
        {
            // A lock naming a live process, as QLockFile writes it, made by another user.
            QLockFile scratch(victim.lockPath());
            QVERIFY(scratch.tryLock(0));
            QFile::copy(victim.lockPath(), victim.lockPath() + QStringLiteral(".kept"));
        }
        QVERIFY(QFile::rename(victim.lockPath() + QStringLiteral(".kept"), victim.lockPath()));
        QVERIFY(giveAway(victim.lockPath()));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("belongs to another user")));
        QCOMPARE(victim.claim(1s), SingleInstance::Claim::Start);
        return;
    }

#if defined(Q_OS_UNIX)
    // Without a runtime directory the place is a private folder in the temporary one, never the
    // temporary directory itself, which every user can write to.
    const QTemporaryDir tmp;
    const QByteArray savedTmp = qgetenv("TMPDIR");
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    qunsetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&] {
        qputenv("TMPDIR", savedTmp);
        if (!savedRuntime.isNull())
            qputenv("XDG_RUNTIME_DIR", savedRuntime);
    });
    // Squatted: the folders Qt and the client would use are made by another user first.
    for (const QString &name : {QStringLiteral("runtime-root"), QStringLiteral("vestrel-0")}) {
        QVERIFY(QDir(tmp.path()).mkdir(name));
        QVERIFY(giveAway(tmp.filePath(name)));
    }
    QCOMPARE(SingleInstance::defaultPlace(), QString());
    SingleInstance victim(folder(QStringLiteral("one")), kHome, SingleInstance::defaultPlace());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("without the one-at-a-time guard")));
    QCOMPARE(victim.claim(1s), SingleInstance::Claim::Start);

    // Unsquatted, the folder is made, with no access for anyone else.
    QVERIFY(QDir(tmp.filePath(QStringLiteral("vestrel-0"))).removeRecursively());
    const QString place = SingleInstance::defaultPlace();
    QCOMPARE(place, tmp.filePath(QStringLiteral("vestrel-0")));
    struct stat info {};
    QVERIFY(::stat(QFile::encodeName(place).constData(), &info) == 0);
    QCOMPARE(info.st_mode & 0777, 0700u);
#endif
}

// Windows knows one folder by many names: another letter case, its 8.3 short name, another drive
// letter for the same place (subst; under Wine, Z:, the Unix root, which holds the prefix's C:).
// Each is the same client's folder, also one deeper than MAX_PATH (260 characters), which Windows
// opens only in the extended form (\\?\) unless the system allows long paths to everyone.
#if defined(Q_OS_WIN)
// Whether the system names the folder at all, asked with room for any name.
static bool finalNameAnswered(const QString &folder)
{
    const QString extended = QStringLiteral("\\\\?\\") + folder;
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(extended.utf16()), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    std::wstring name(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, name.data(), DWORD(name.size()), VOLUME_NAME_DOS);
    CloseHandle(handle);
    return length > 0 && length < name.size();
}
#endif

void TestSingleInstance::oneFolderSpelledOtherwise_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("a long name") << QStringLiteral("A Folder With A Long Name");
    const QString level = QStringLiteral("A Folder Sixty Characters Long, Nested Five Times Over Here");
    QTest::newRow("deeper than MAX_PATH") << QStringList(5, level).join(u'/');
}

void TestSingleInstance::oneFolderSpelledOtherwise()
{
#if defined(Q_OS_WIN)
    QFETCH(QString, name);
    QVERIFY(QDir(m_root->path()).mkpath(name));
    const QString one = QDir::toNativeSeparators(folder(name));
    if (underWine() && !finalNameAnswered(one))
        QEXPECT_FAIL("deeper than MAX_PATH",
                     "Wine's GetFinalPathNameByHandleW fails past MAX_PATH (ERROR_MORE_DATA, whatever the buffer)",
                     Abort);
    QVERIFY(!InstancePlace::folderIdentity(one).isEmpty());
    QStringList spellings{one.toUpper(), one.toLower()};
    wchar_t shortName[MAX_PATH];
    const DWORD length = GetShortPathNameW(reinterpret_cast<const wchar_t *>(one.utf16()), shortName, MAX_PATH);
    if (length > 0 && length < MAX_PATH && QString::fromWCharArray(shortName, int(length)) != one)
        spellings << QString::fromWCharArray(shortName, int(length));
    auto removeDrive = qScopeGuard([] { DefineDosDeviceW(DDD_REMOVE_DEFINITION, L"Q:", nullptr); });
    if (underWine()) {
        // Wine names drives by links in its prefix (dosdevices/), not by DefineDosDevice.
        using UnixName = char *(CDECL *)(const wchar_t *);
        const auto unixName = reinterpret_cast<UnixName>(
            reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
        QVERIFY(unixName);
        char *path = unixName(reinterpret_cast<const wchar_t *>(one.utf16()));
        QVERIFY(path);
        spellings << QStringLiteral("Z:") + QDir::toNativeSeparators(QString::fromLocal8Bit(path));
        HeapFree(GetProcessHeap(), 0, path);
    } else {
        QVERIFY(DefineDosDeviceW(0, L"Q:",
                                 reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(m_root->path()).utf16())));
        spellings << QStringLiteral("Q:\\") + QDir::toNativeSeparators(name);
    }

    SingleInstance first(one, kHome, m_place->path());
    answering(first);
    QCOMPARE(first.claim(), SingleInstance::Claim::Start);
    for (const QString &spelling : std::as_const(spellings)) {
        QVERIFY2(QFileInfo(spelling).isDir(), qPrintable(spelling));
        QCOMPARE(SingleInstance(spelling, kHome, m_place->path()).lockPath(), first.lockPath());
        QCOMPARE(claimMeanwhile(spelling, kHome, m_place->path(), 10s), SingleInstance::Claim::Shown);
    }
#else
    QSKIP("Unix names a folder exactly: its links are the rows of secondStartShowsTheFirst");
#endif
}

// Pipe names are one name space for the whole machine: another user's process may serve the
// holder's pipe name first. A later start tells it nothing, believes nothing from it, and gives up
// at once rather than after its whole patience.
void TestSingleInstance::socketOfAnotherProcessIsNotBelieved()
{
#if defined(Q_OS_WIN)
    const SingleInstance names(folder(QStringLiteral("one")), kHome, m_place->path());
    const QString told = m_place->filePath(QStringLiteral("told"));
    QProcess standIn;
    standIn.start(QStringLiteral(PIPE_STAND_IN_PATH), {names.socketPath(), told});
    auto end = qScopeGuard([&standIn] {
        standIn.kill();
        standIn.waitForFinished();
    });
    QVERIFY(standIn.waitForReadyRead(10000));
    QCOMPARE(standIn.readLine().trimmed(), QByteArray("listening"));
    // The holder, this process, has the lock; the pipe is the stand-in's.
    QLockFile lock(names.lockPath());
    QVERIFY(lock.tryLock(0));

    QElapsedTimer waited;
    waited.start();
    QCOMPARE(claimMeanwhile(folder(QStringLiteral("one")), kHome, m_place->path(), 15s),
             SingleInstance::Claim::Impostor);
    QCOMPARE_LT(waited.elapsed(), 5000);
    QTest::qWait(200);
    QVERIFY(!QFile::exists(told) || QFileInfo(told).size() == 0);
#else
    QSKIP("the socket lives in a folder of this user's own (otherUsersFilesAreNotTrusted)");
#endif
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
