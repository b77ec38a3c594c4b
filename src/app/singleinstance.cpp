#include "app/singleinstance.h"
#include "core/logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

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

} // namespace

SingleInstance::SingleInstance(const QString &programFolder, const QString &home, const QString &place, QObject *parent)
    : QObject(parent), m_folder(canonical(programFolder)), m_base(QDir(place).filePath(nameFor(m_folder, home))),
      m_lock(lockPath())
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
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

SingleInstance::Claim SingleInstance::claim(std::chrono::milliseconds patience)
{
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
    if (client->readLine(kMaxRequest) == kShow) {
        emit showRequested();
        client->write(kShown);
    }
    // Writes what is pending first.
    client->disconnectFromServer();
}
