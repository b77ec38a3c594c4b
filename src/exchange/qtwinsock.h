#pragma once

#include "exchange/machineaddresses.h"
#include "exchange/tcpconnect.h"
#include "exchange/winsock.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QTimer>

class QHostAddress;
class QTcpSocket;
class TcpConnector;

// The real socket, on QTcpSocket.
class QtWinsock final : public Winsock
{
    Q_OBJECT
public:
    explicit QtWinsock(QObject *parent = nullptr);
    ~QtWinsock() override;

    qint16 State() const override;
    void Close() override;
    QString RemoteHost() const override { return m_remoteHost; }
    void setRemoteHost(const QString &host) override { m_remoteHost = host; }
    qint32 RemotePort() const override { return m_remotePort; }
    void setRemotePort(qint32 port) override { m_remotePort = port; }
    // The system always picks the local port: the program only ever asks for 0.
    void setLocalPort(qint32 /*port*/) override {}
    void Connect() override;
    QString LocalIP() const override;
    bool isLocalAddressGone() const override;
    bool hasSendBacklog() const override;
    bool hasBytesToWrite() const override;
    void SendData(const QString &data) override;
    void GetData(QString &data, qint16 maxLen) override;

    // Bytes received and not yet taken by GetData.
    qint64 bytesWaiting() const { return m_received.size() - m_readPos; }

private:
    void connectTo(const QList<QHostAddress> &addresses);
    // The connector made the connection: handed to the socket at once, or from the event loop
    // when it was made inside a call.
    void onConnectorConnected(qintptr descriptor);
    void onConnected(qintptr descriptor);
    void onDisconnected();
    void onSocketError(QAbstractSocket::SocketError error);
    void onConnectFailed(const ConnectStep &step);
    // Raises the Error event: at once, or from the event loop when the failure came inside a call.
    void raiseError(qint16 number, const QString &description);
    void onReadyRead();
    void compactBuffer();
    // How long the data sent on this connection has waited for acknowledgement, or -1.
    qint64 unacknowledgedForMs() const;

    QTcpSocket *m_socket = nullptr;
    // Makes the connection that m_socket is then given, so that Qt's connect never runs.
    TcpConnector *m_connector = nullptr;
    int m_lookupId = -1;
    MachineAddresses *m_addresses = nullptr;
    static constexpr int kAddressSettleMs = 250;
    QTimer m_addressSettle;
    QString m_remoteHost;
    qint32 m_remotePort = 0;
    qint16 m_state = sckClosed;
    // Every attempt gets a number so that an event queued for an attempt that Close() has since
    // dropped is never delivered.
    int m_attempt = 0;
    // Set while a call of the program's runs, so that events Qt raises inside it are delivered later.
    bool m_inCall = false;
    // Since when sent data has waited for acknowledgement: from the send until the peer answers,
    // or a reading of the system's finds nothing waiting. Only a reading says that a request was
    // taken without an answer, so where the system does not tell, no wait is known.
    mutable QElapsedTimer m_unacknowledged;
    mutable bool m_acknowledgementKnown = true;
    QByteArray m_received;
    qsizetype m_readPos = 0;
};
