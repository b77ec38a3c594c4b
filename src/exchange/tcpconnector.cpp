#include "exchange/tcpconnector.h"

#include <QSocketNotifier>

TcpConnector::TcpConnector(QObject *parent) : QObject(parent)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kAddressTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] { finish({ConnectOutcome::TimedOut, {}}); });
}

TcpConnector::~TcpConnector()
{
    dropSocket();
}

void TcpConnector::start(const QList<QHostAddress> &addresses, quint16 port)
{
    cancel();
    m_addresses = addresses;
    m_port = port;
    m_last = {ConnectOutcome::Other, QStringLiteral("No address to connect to")};
    tryNext();
}

void TcpConnector::cancel()
{
    m_addresses.clear();
    dropSocket();
}

void TcpConnector::tryNext()
{
    while (!m_addresses.isEmpty()) {
        const QHostAddress address = m_addresses.takeFirst();
        m_descriptor = openTcpSocket(address, m_last);
        if (m_descriptor < 0)
            continue;
        const ConnectStep step = startConnect(m_descriptor, address, m_port);
        if (step.outcome == ConnectOutcome::InProgress) {
            // Watched once the connection has started, as Qt's own engines do: Wine reports a
            // failed connect only to a watch that began after connect().
            m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Write, this);
            connect(m_notifier, &QSocketNotifier::activated, this, [this] { finish(finishConnect(m_descriptor)); });
            m_timeout.start();
            return;
        }
        finish(step);
        return;
    }
    emit failed(m_last);
}

void TcpConnector::finish(const ConnectStep &step)
{
    m_timeout.stop();
    if (step.outcome == ConnectOutcome::Connected) {
        // The watch ends here: Qt watches the socket from now on.
        delete m_notifier;
        m_notifier = nullptr;
        const qintptr descriptor = std::exchange(m_descriptor, -1);
        m_addresses.clear();
        emit connected(descriptor);
        return;
    }
    m_last = step;
    dropSocket();
    tryNext();
}

void TcpConnector::dropSocket()
{
    m_timeout.stop();
    // Deleted at once, even from its own signal: its descriptor is closed next, and Qt's
    // notifier emits nothing after a slot has deleted it.
    delete m_notifier;
    m_notifier = nullptr;
    closeDescriptor(std::exchange(m_descriptor, -1));
}
