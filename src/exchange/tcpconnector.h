#pragma once

#include "exchange/tcpconnect.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

// One connection attempt, made on the system's socket rather than through Qt's connect: the
// addresses are tried in turn, each once, and the attempt ends with exactly one signal, either a
// connected descriptor or the failure of the last address. Nothing is tried again behind the
// caller's back, however the handshake fails.
class TcpConnector : public QObject
{
    Q_OBJECT
public:
    // How long one address may take to answer, as long as Qt's own connect waits.
    static constexpr int kAddressTimeoutMs = 30000;

    explicit TcpConnector(QObject *parent = nullptr);
    ~TcpConnector() override;

    // Starts an attempt, dropping any under way. Its signal may come from inside this call when
    // every address fails at once.
    void start(const QList<QHostAddress> &addresses, quint16 port);
    // Drops the attempt under way, if any, without a signal.
    void cancel();

signals:
    // The receiver owns the descriptor from now on.
    void connected(qintptr descriptor);
    void failed(const ConnectStep &step);

private:
    void tryNext();
    void finish(const ConnectStep &step);
    void dropSocket();

    QList<QHostAddress> m_addresses;
    quint16 m_port = 0;
    qintptr m_descriptor = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_timeout;
    ConnectStep m_last;
};
