#pragma once
// One running client per program folder and user. Each folder is one account with its own
// config.dat, so two copies in two folders run side by side, but a second start in the same folder
// would only fight the first over the file and the service. The first start takes a lock named
// after the folder and listens on a local socket of the same name; a later start finds the lock
// held, asks the holder over that socket to show its window, and ends.

#include <QDeadlineTimer>
#include <QList>
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>

class QLocalSocket;

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Claim {
        Start,    // this process holds the folder and starts the client
        Shown,    // another process holds it and has shown its window
        NoAnswer, // another process holds it but did not answer in time
        Impostor, // another process holds it, and its socket is served by someone else: not asked
    };
    Q_ENUM(Claim)

    // The folder is named as the file system knows it, so that a link to it, or another spelling of
    // it, names the same folder. place is the directory for the lock and the socket.
    SingleInstance(const QString &programFolder, const QString &home, const QString &place, QObject *parent = nullptr);

    // The name the lock and the socket share: the folder's identity and the user's home, hashed.
    // The home keeps users apart where the place is shared by all of them.
    static QString nameFor(const QString &folderIdentity, const QString &home);
    // A directory of this user's own for the lock and the socket: the runtime directory, or a
    // private folder in the temporary one; on Windows, Vestrel in the local application data.
    // Empty where none can be had.
    static QString defaultPlace();

    // Takes the folder, or asks its holder to show the window. A start that lost the race to a
    // holder not yet listening, or one on its way out, keeps trying for up to patience: long
    // enough for a first start still busy starting up, as at log-in, when the machine is busiest.
    Claim claim(std::chrono::milliseconds patience = std::chrono::seconds(15));
    bool holdsLock() const { return m_lock.isLocked(); }

    QString lockPath() const { return m_base + QStringLiteral(".lock"); }
    QString socketPath() const { return m_base + QStringLiteral(".socket"); }

    // Tells the later starts that asked for the window whether it has been shown.
    void answerShowRequests(bool shown);

signals:
    // A later start in the same folder asked for the window; answerShowRequests() tells it the
    // outcome. Requests that came before anything was connected here are signalled once it is.
    void showRequested();

protected:
    void connectNotify(const QMetaMethod &signal) override;

private:
    void listen();
    enum class Asked { Shown, NoAnswer, Impostor };
    Asked askToShow(QDeadlineTimer deadline, qint64 holder) const;
    static QByteArray readLine(QLocalSocket &socket, QDeadlineTimer deadline);
    void acceptRequests();
    void readRequest(QLocalSocket *client);

    QString m_folder;
    QString m_place;
    QString m_base;
    QLockFile m_lock;
    QList<QPointer<QLocalSocket>> m_waiting;
    // After the lock, so that it closes (and removes its socket file) before the lock is let go:
    // the next holder's fresh socket must not be removed by this one's end.
    QLocalServer m_server;
};
