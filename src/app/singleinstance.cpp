#include "app/singleinstance.h"
#include "core/logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <utility>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

const QByteArray kShow = QByteArrayLiteral("show\n");
const QByteArray kShown = QByteArrayLiteral("shown\n");
// Longer than any request: a client that sends this much without a line is not one of ours.
constexpr qint64 kMaxRequest = 64;

QString canonical(const QString &folder)
{
    const QFileInfo info(folder);
    const QString path = info.canonicalFilePath();
    return path.isEmpty() ? info.absoluteFilePath() : path;
}

// Whether a file another process left there may be believed: one another user made could be a
// squatter's, put there to keep this user's client from starting.
bool ownedByUs(const QString &path)
{
#if defined(Q_OS_UNIX)
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) != 0 || info.st_uid == ::geteuid();
#else
    Q_UNUSED(path);
    return true;
#endif
}

#if defined(Q_OS_UNIX)
// A folder only this user can write to, made if missing: a real folder (not a link), owned by this
// user, with no access for anyone else. Empty where that cannot be had.
QString privateFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return QString();
    if ((info.st_mode & 0077) != 0 && ::chmod(name.constData(), 0700) != 0)
        return QString();
    return path;
}
#endif

} // namespace

SingleInstance::SingleInstance(const QString &programFolder, const QString &home, const QString &place, QObject *parent)
    : QObject(parent), m_folder(canonical(programFolder)), m_place(place),
      m_base(QDir(place).filePath(nameFor(m_folder, home))), m_lock(lockPath())
{
    // The holder may run for weeks: only a dead holder makes the lock stale, never its age.
    m_lock.setStaleLockTime(0);
}

QString SingleInstance::nameFor(const QString &canonicalFolder, const QString &home)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(home.toUtf8());
    hash.addData(QByteArrayView("\0", 1));
    hash.addData(canonicalFolder.toUtf8());
    // 64 bits tell folders apart well enough and keep the socket's path short.
    return QStringLiteral("vestrel-") + QString::fromLatin1(hash.result().left(8).toHex());
}

QString SingleInstance::defaultPlace()
{
#if defined(Q_OS_UNIX)
    // The runtime directory is the user's own; Qt checks it. Without one, the shared temporary
    // directory would let any local user make the lock first: a folder of this user's own there.
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (!runtime.isEmpty())
            return runtime;
    }
    return privateFolder(QDir::tempPath() + QStringLiteral("/vestrel-") + QString::number(::geteuid()));
#else
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
}

SingleInstance::Claim SingleInstance::claim(std::chrono::milliseconds patience)
{
    if (m_place.isEmpty()) {
        qCWarning(lcTray) << "no folder of this user's own for the lock - starting without the one-at-a-time guard";
        return Claim::Start;
    }
    const QDeadlineTimer deadline(patience);
    for (;;) {
        // A holder that died (a crash, SIGKILL) leaves its lock behind; tryLock removes it.
        if (m_lock.tryLock(0)) {
            listen();
            return Claim::Start;
        }
        if (m_lock.error() != QLockFile::LockFailedError) {
            // No lock can be made here at all: a client without the guard beats no client.
            qCWarning(lcTray) << "cannot create" << lockPath() << "- starting without the one-at-a-time guard";
            return Claim::Start;
        }
        if (!ownedByUs(lockPath()) || !ownedByUs(socketPath())) {
            qCWarning(lcTray) << lockPath() << "belongs to another user - starting without the one-at-a-time guard";
            return Claim::Start;
        }
        if (askToShow(deadline))
            return Claim::Shown;
        if (deadline.hasExpired()) {
            qCWarning(lcTray) << "the copy running in" << m_folder << "does not answer; not starting another";
            return Claim::NoAnswer;
        }
        // The holder has the lock but is not listening yet, or is on its way out.
        QThread::msleep(50);
    }
}

void SingleInstance::listen()
{
    // Only the lock's holder gets here, so a socket file at this path was left by a dead one.
    QLocalServer::removeServer(socketPath());
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(socketPath())) {
        qCWarning(lcTray) << "cannot listen on" << socketPath() << m_server.errorString()
                          << "- a second start cannot bring up the window";
        return;
    }
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptRequests);
}

bool SingleInstance::askToShow(QDeadlineTimer deadline) const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    socket.write(kShow);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    // The answer comes once the holder has acted on the request; a holder that is closing down
    // drops the connection instead, and the caller tries for the lock again.
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return socket.readLine() == kShown;
}

void SingleInstance::acceptRequests()
{
    while (QLocalSocket *client = m_server.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] { readRequest(client); });
        if (client->bytesAvailable() > 0)
            readRequest(client);
    }
}

void SingleInstance::readRequest(QLocalSocket *client)
{
    if (!client->canReadLine()) {
        if (client->bytesAvailable() > kMaxRequest)
            client->abort();
        return;
    }
    if (client->readLine(kMaxRequest) != kShow) {
        client->disconnectFromServer();
        return;
    }
    // Answered once the window has really been shown, or has not.
    m_waiting.append(client);
    emit showRequested();
}

void SingleInstance::answerShowRequests(bool shown)
{
    for (const QPointer<QLocalSocket> &client : std::exchange(m_waiting, {})) {
        if (!client)
            continue;
        if (shown)
            client->write(kShown);
        // Writes what is pending first. Without "shown" the later start tries for the lock again.
        client->disconnectFromServer();
    }
}
