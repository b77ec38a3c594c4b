#pragma once

#include <QObject>
#include <QString>

// The TCP client socket the window talks through. Member names follow the socket control the
// program was designed around; events are signals raised on the window's thread, never from inside
// a call the program made (Connect() returns at once, its outcome arrives later).
class Winsock : public QObject
{
    Q_OBJECT
public:
    // State numbers of the control. Only Connected matters to the program.
    enum StateValue : qint16 {
        sckClosed = 0,
        sckOpen = 1,
        sckListening = 2,
        sckConnectionPending = 3,
        sckResolvingHost = 4,
        sckHostResolved = 5,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8,
        sckError = 9,
    };

    using QObject::QObject;

    virtual qint16 State() const = 0;
    // Drops the connection or a pending attempt; harmless when already closed.
    virtual void Close() = 0;
    virtual QString RemoteHost() const = 0;
    virtual void setRemoteHost(const QString &host) = 0;
    virtual qint32 RemotePort() const = 0;
    virtual void setRemotePort(qint32 port) = 0;
    virtual void setLocalPort(qint32 port) = 0;
    // Starts an attempt to RemoteHost:RemotePort and returns at once.
    virtual void Connect() = 0;
    virtual QString LocalIP() const = 0;
    // Whether the open connection's local address has left the machine, so that nothing sent on it
    // can arrive any more. False without a connection.
    virtual bool isLocalAddressGone() const = 0;
    // Whether what was sent earlier still waits for the peer: not yet handed to the system, or
    // handed over but not acknowledged. False without a connection, or where it cannot be known.
    virtual bool hasSendBacklog() const = 0;
    // Whether part of what was sent earlier has not even been handed to the system yet. On a live
    // connection that lasts only until the socket reports it can write again.
    virtual bool hasBytesToWrite() const = 0;
    // Queues the whole text for sending, one byte per character. Throws NumberedError when not connected.
    virtual void SendData(const QString &data) = 0;
    // Moves at most maxLen received bytes, oldest first, into data (one character per byte).
    virtual void GetData(QString &data, qint16 maxLen) = 0;

signals:
    void ConnectEvent();
    void DataArrival(qint32 bytesTotal);
    // The system reports that the machine's addresses have changed.
    void addressesChanged();
    void Error(qint16 number, const QString &description, qint32 scode, const QString &source, const QString &helpFile,
               qint32 helpContext, bool cancelDisplay);
};
