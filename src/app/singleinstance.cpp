#include "app/singleinstance.h"
#include "app/instanceplace.h"
#include "core/logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QMetaMethod>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

const QByteArray kShow = QByteArrayLiteral("show\n");
const QByteArray kTakenUp = QByteArrayLiteral("asked\n");
const QByteArray kShown = QByteArrayLiteral("shown\n");
// A holder that is running reads a request within this, even at its busiest.
constexpr std::chrono::seconds kTakenUpWithin{3};
// Longer than any request: a client that sends this much without a line is not one of ours.
constexpr qint64 kMaxRequest = 64;
// How long an answered asker may take to read the answer and hang up.
constexpr std::chrono::seconds kAnswerKept{10};

QString canonical(const QString &folder)
{
    const QFileInfo info(folder);
    const QString path = info.canonicalFilePath();
    return path.isEmpty() ? info.absoluteFilePath() : path;
}

// What the lock is named after: the folder as the file system knows it, or, where it cannot tell,
// its canonical path.
QString identity(const QString &folder)
{
    const QString known = InstancePlace::folderIdentity(folder);
    return known.isEmpty() ? canonical(folder) : known;
}

} // namespace

SingleInstance::SingleInstance(const QString &programFolder, const QString &home, const QString &place, QObject *parent)
    : QObject(parent), m_folder(canonical(programFolder)), m_place(place),
      m_base(QDir(place).filePath(nameFor(identity(programFolder), home))), m_lock(lockPath())
{
    // The holder may run for weeks: only a dead holder makes the lock stale, never its age.
    m_lock.setStaleLockTime(0);
}

QString SingleInstance::nameFor(const QString &folderIdentity, const QString &home)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(home.toUtf8());
    hash.addData(QByteArrayView("\0", 1));
    hash.addData(folderIdentity.toUtf8());
    // 64 bits tell folders apart well enough and keep the socket's path short.
    return QStringLiteral("vestrel-") + QString::fromLatin1(hash.result().left(8).toHex());
}

QString SingleInstance::defaultPlace()
{
    return InstancePlace::defaultPlace();
}

SingleInstance::Claim SingleInstance::claim(std::chrono::milliseconds patience)
{
    if (m_place.isEmpty()) {
        qCWarning(lcInstance) << "no folder of this user's own for the lock - starting without the one-at-a-time guard";
        return Claim::Start;
    }
    const QDeadlineTimer deadline(patience);
    for (;;) {
        // A holder that died (a crash, a kill) leaves its lock behind; tryLock removes it.
        if (m_lock.tryLock(0)) {
            listen();
            return Claim::Start;
        }
        if (m_lock.error() != QLockFile::LockFailedError) {
            // No lock can be made here at all: a client without the guard beats no client.
            qCWarning(lcInstance) << "cannot create" << lockPath() << "- starting without the one-at-a-time guard";
            return Claim::Start;
        }
        if (!InstancePlace::ownedByUs(lockPath()) || !InstancePlace::ownedByUs(socketPath())) {
            qCWarning(lcInstance) << lockPath() << "belongs to another user - starting without the one-at-a-time guard";
            return Claim::Start;
        }
        // Qt judges a holder by the process ID in the lock, and an ID is reused: by this very start
        // after a reboot or, under Wine, at once, or by another copy of the program. The system's
        // own lock on the file says whether its holder lives; Qt writes the ID only once it holds
        // that lock, so a lock with an ID that can be removed is a dead holder's.
        qint64 holder = 0;
        const bool named = m_lock.getLockInfo(&holder, nullptr, nullptr);
        if (named && m_lock.removeStaleLockFile()) {
            qCInfo(lcInstance) << "removed the lock of a copy that has ended (it named process" << holder << ")";
            continue;
        }
        switch (askToShow(deadline, named ? holder : 0)) {
        case Asked::Shown:
            return Claim::Shown;
        case Asked::Impostor:
            qCWarning(lcInstance) << "the socket" << socketPath()
                                  << "is served by a process other than the copy running in" << m_folder << "(process"
                                  << holder << "); not asking it, and not starting another";
            return Claim::Impostor;
        case Asked::NoAnswer:
            break;
        }
        if (deadline.hasExpired()) {
            qCWarning(lcInstance) << "the copy running in" << m_folder << "does not answer; not starting another";
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
        qCWarning(lcInstance) << "cannot listen on" << socketPath() << m_server.errorString()
                              << "- a second start cannot bring up the window";
        return;
    }
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptRequests);
}

SingleInstance::Asked SingleInstance::askToShow(QDeadlineTimer deadline, qint64 holder) const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return Asked::NoAnswer;
    // Nothing is told to, or believed from, a socket that is not the holder's. A lock that does not
    // name its holder yet is being made: ask again.
    if (holder <= 0)
        return Asked::NoAnswer;
    if (!InstancePlace::servedByHolder(socket, holder))
        return Asked::Impostor;
    InstancePlace::letHolderTakeForeground(holder);
    socket.write(kShow);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return Asked::NoAnswer;
    // A holder takes up the request at once and says so. A connection made while the holder was
    // still setting up its server can go unseen (as under Wine): without that word, ask afresh
    // rather than wait out the whole patience on it.
    if (readLine(socket, std::min(deadline, QDeadlineTimer(kTakenUpWithin))) != kTakenUp)
        return Asked::NoAnswer;
    // The answer comes once the holder has acted on the request; a holder that is closing down
    // drops the connection instead, and the caller tries for the lock again.
    return readLine(socket, deadline) == kShown ? Asked::Shown : Asked::NoAnswer;
}

QByteArray SingleInstance::readLine(QLocalSocket &socket, QDeadlineTimer deadline)
{
    // The line and the end of the connection may come together: a wait that ends with the
    // connection (as on Windows' pipes) may still have brought it.
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
    }
    return socket.canReadLine() ? socket.readLine(kMaxRequest) : QByteArray();
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
    client->write(kTakenUp);
    // Answered once the window has really been shown, or has not. A request that comes while the
    // window is still being made (the system can deliver events then) waits for its handler.
    m_waiting.append(client);
    if (isSignalConnected(QMetaMethod::fromSignal(&SingleInstance::showRequested)))
        emit showRequested();
}

void SingleInstance::connectNotify(const QMetaMethod &signal)
{
    if (signal == QMetaMethod::fromSignal(&SingleInstance::showRequested) && !m_waiting.isEmpty())
        QMetaObject::invokeMethod(this, &SingleInstance::showRequested, Qt::QueuedConnection);
}

void SingleInstance::answerShowRequests(bool shown)
{
    for (const QPointer<QLocalSocket> &client : std::exchange(m_waiting, {})) {
        if (!client)
            continue;
        if (shown) {
            // The asker ends the connection once it has read this: ending it here could lose the
            // answer, since a Windows pipe drops what its reader has not yet taken. A peer that
            // never reads is dropped later.
            client->write(kShown);
            client->flush();
            QTimer::singleShot(kAnswerKept, client, &QLocalSocket::abort);
        } else {
            // The later start tries for the lock again.
            client->disconnectFromServer();
        }
    }
}
