#include "exchange/qtwinsock.h"

#include "core/errors.h"
#include "exchange/connectioncheck.h"
#include "exchange/tcpconnector.h"
#include "exchange/tcpoptions.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QScopedValueRollback>
#include <QTcpSocket>

namespace {

struct SocketErrorText {
    qint16 number;
    const char *description;
};

// Windows socket error numbers, which users of the program's first platform know.
SocketErrorText describe(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return {10061, "Connection is forcefully rejected"};
    case QAbstractSocket::HostNotFoundError:
        return {11001, "Host not found"};
    case QAbstractSocket::SocketTimeoutError:
        return {10060, "Connection timed out"};
    case QAbstractSocket::NetworkError:
        return {10065, "No route to host"};
    case QAbstractSocket::SocketAccessError:
        return {10013, "Permission denied"};
    case QAbstractSocket::SocketResourceError:
        return {10055, "No buffer space is available"};
    case QAbstractSocket::AddressInUseError:
        return {10048, "Address in use"};
    default:
        return {10053, nullptr};
    }
}

// The same numbers for what the system said of a connection attempt; nullptr: the system's words.
SocketErrorText describe(ConnectOutcome outcome)
{
    switch (outcome) {
    case ConnectOutcome::Refused:
        return {10061, "Connection is forcefully rejected"};
    case ConnectOutcome::Reset:
        return {10054, "Connection is reset by remote side"};
    case ConnectOutcome::TimedOut:
        return {10060, "Connection timed out"};
    case ConnectOutcome::NetworkUnreachable:
        return {10051, "Network is unreachable"};
    case ConnectOutcome::HostUnreachable:
        return {10065, "No route to host"};
    case ConnectOutcome::AccessDenied:
        return {10013, "Permission denied"};
    case ConnectOutcome::AddressInUse:
        return {10048, "Address in use"};
    case ConnectOutcome::AddressNotAvailable:
        return {10049, "Address not available from the local machine"};
    case ConnectOutcome::NoResources:
        return {10055, "No buffer space is available"};
    default:
        return {10053, nullptr};
    }
}

} // namespace

QtWinsock::QtWinsock(QObject *parent)
    : Winsock(parent), m_socket(new QTcpSocket(this)), m_connector(new TcpConnector(this)),
      m_addresses(new MachineAddresses(this))
{
    // A new lease or another network usually comes as a burst of reports (the old address goes,
    // the new one comes a moment later): they are raised as one event, once the burst is over, and
    // after whatever the first report's attempt has raised meanwhile.
    m_addressSettle.setSingleShot(true);
    m_addressSettle.setInterval(kAddressSettleMs);
    connect(m_addresses, &MachineAddresses::changed, &m_addressSettle, qOverload<>(&QTimer::start));
    connect(&m_addressSettle, &QTimer::timeout, this, &Winsock::addressesChanged);
    connect(m_connector, &TcpConnector::connected, this, &QtWinsock::onConnectorConnected);
    connect(m_connector, &TcpConnector::failed, this, &QtWinsock::onConnectFailed);
    connect(m_socket, &QAbstractSocket::disconnected, this, &QtWinsock::onDisconnected);
    connect(m_socket, &QIODevice::readyRead, this, &QtWinsock::onReadyRead);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &QtWinsock::onSocketError);
}

void QtWinsock::onConnectorConnected(qintptr descriptor)
{
    if (!m_inCall) {
        onConnected(descriptor);
        return;
    }
    // Made at once, inside Connect(): the event still comes from the event loop.
    QMetaObject::invokeMethod(
        this,
        [this, descriptor, attempt = m_attempt] {
            if (attempt == m_attempt)
                onConnected(descriptor);
            else
                closeDescriptor(descriptor);
        },
        Qt::QueuedConnection);
}

void QtWinsock::onDisconnected()
{
    // The peer closed the connection. This is not an error event: the owner notices it by looking
    // at State() on its next tick.
    if (m_state == sckConnected)
        m_state = sckClosing;
}

void QtWinsock::onSocketError(QAbstractSocket::SocketError error)
{
    // Only a connection that was made fails here: Qt never connects this socket itself. Judged by
    // cause: Windows reports a connection it gave up as the peer's reset.
    const FailureShown shown = judgeFailure(socketFailure(error, m_socket->errorString()), unacknowledgedForMs());
    if (shown == FailureShown::Closed) {
        if (m_state == sckConnected)
            m_state = sckClosing;
        return;
    }
    const SocketErrorText text =
        shown == FailureShown::TimedOut ? SocketErrorText{10060, "Connection timed out"} : describe(error);
    raiseError(text.number, text.description ? QString::fromLatin1(text.description) : m_socket->errorString());
}

void QtWinsock::raiseError(qint16 number, const QString &description)
{
    m_state = sckError;
    // Raised at once, so that no tick can close the socket between the failure and its event
    // and so drop the event unseen.
    if (!m_inCall) {
        emit Error(number, description, 0, QStringLiteral("Winsock"), QString(), 0, false);
        return;
    }
    // A failure known inside a call of the program's (Connect() to an address the system refuses
    // at once): the event must still arrive later, from the event loop, like every other socket
    // event. Only a Close() before then drops it.
    QMetaObject::invokeMethod(
        this,
        [this, attempt = m_attempt, number, description] {
            if (attempt != m_attempt)
                return;
            emit Error(number, description, 0, QStringLiteral("Winsock"), QString(), 0, false);
        },
        Qt::QueuedConnection);
}

void QtWinsock::onConnected(qintptr descriptor)
{
    if (!m_socket->setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        closeDescriptor(descriptor);
        const SocketErrorText text = describe(m_socket->error());
        raiseError(text.number, text.description ? QString::fromLatin1(text.description) : m_socket->errorString());
        return;
    }
    m_state = sckConnected;
    // Requests sent into a path that has silently died would otherwise pile up for a quarter
    // of an hour and reach the service all at once when it comes back.
    setUnacknowledgedLimit(m_socket->socketDescriptor(), kUnacknowledgedLimitMs);
    emit ConnectEvent();
}

void QtWinsock::onConnectFailed(const ConnectStep &step)
{
    // Every way the handshake can fail ends the attempt here, a reset included; the owner decides
    // when to try again.
    const SocketErrorText text = describe(step.outcome);
    raiseError(text.number, text.description ? QString::fromLatin1(text.description) : step.systemText);
}

QtWinsock::~QtWinsock()
{
    if (m_lookupId != -1)
        QHostInfo::abortHostLookup(m_lookupId);
    m_connector->disconnect(this);
    m_socket->disconnect(this);
    m_socket->abort();
}

qint16 QtWinsock::State() const
{
    return m_state;
}

void QtWinsock::Close()
{
    const QScopedValueRollback inCall(m_inCall, true);
    ++m_attempt;
    if (m_lookupId != -1)
        QHostInfo::abortHostLookup(std::exchange(m_lookupId, -1));
    m_connector->cancel();
    m_socket->abort();
    m_unacknowledged.invalidate();
    m_received.clear();
    m_readPos = 0;
    m_state = sckClosed;
}

void QtWinsock::Connect()
{
    if (m_state != sckClosed)
        throw NumberedError(Err::InvalidOperationAtState, QStringLiteral("Invalid operation at current state"));
    ++m_attempt;
    m_unacknowledged.invalidate();
    m_acknowledgementKnown = true;
    m_received.clear();
    m_readPos = 0;
    const QScopedValueRollback inCall(m_inCall, true);
    // An address needs no lookup, and is tried at once, as Qt does.
    if (QHostAddress literal; literal.setAddress(m_remoteHost)) {
        connectTo({literal});
        return;
    }
    m_state = sckResolvingHost;
    m_lookupId = QHostInfo::lookupHost(m_remoteHost, this, [this, attempt = m_attempt](const QHostInfo &info) {
        if (attempt != m_attempt)
            return;
        m_lookupId = -1;
        // The service reads the local address as dotted IPv4, so the connection is made over IPv4
        // wherever the name has an IPv4 address, though the system may prefer IPv6.
        QList<QHostAddress> v4;
        QList<QHostAddress> v6;
        const QList<QHostAddress> all = info.addresses();
        for (const QHostAddress &address : all)
            (address.protocol() == QAbstractSocket::IPv4Protocol ? v4 : v6).append(address);
        if (v4.isEmpty() && v6.isEmpty()) {
            // However the lookup failed, as Qt reports it.
            raiseError(11001, QStringLiteral("Host not found"));
            return;
        }
        connectTo(v4.isEmpty() ? v6 : v4);
    });
}

void QtWinsock::connectTo(const QList<QHostAddress> &addresses)
{
    m_state = sckConnecting;
    m_connector->start(addresses, static_cast<quint16>(m_remotePort));
}

QString QtWinsock::LocalIP() const
{
    if (m_state == sckConnected && !m_socket->localAddress().isNull())
        return unmapped(m_socket->localAddress()).toString();
    const QList<QHostAddress> all = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : all) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            return address.toString();
    }
    return QStringLiteral("127.0.0.1");
}

void QtWinsock::SendData(const QString &data)
{
    if (m_state != sckConnected)
        throw NumberedError(
            Err::WrongProtocolState,
            QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
    const QScopedValueRollback inCall(m_inCall, true);
    if (!m_unacknowledged.isValid())
        m_unacknowledged.start();
    m_socket->write(data.toLatin1());
}

bool QtWinsock::hasSendBacklog() const
{
    if (m_state != sckConnected)
        return false;
    const qint64 unacknowledged = unacknowledgedBytes(m_socket->socketDescriptor());
    if (unacknowledged < 0)
        m_acknowledgementKnown = false;
    const bool backlog = m_socket->bytesToWrite() > 0 || unacknowledged > 0;
    if (!backlog && m_acknowledgementKnown)
        m_unacknowledged.invalidate();
    return backlog;
}

qint64 QtWinsock::unacknowledgedForMs() const
{
    return m_acknowledgementKnown && m_unacknowledged.isValid() ? m_unacknowledged.elapsed() : -1;
}

bool QtWinsock::hasBytesToWrite() const
{
    return m_state == sckConnected && m_socket->bytesToWrite() > 0;
}

bool QtWinsock::isLocalAddressGone() const
{
    return m_state == sckConnected && localAddressGone(m_socket->localAddress(), m_addresses->addresses());
}

void QtWinsock::GetData(QString &data, qint16 maxLen)
{
    const qsizetype n = qMin<qsizetype>(qMax<qint16>(maxLen, 0), m_received.size() - m_readPos);
    data = QString::fromLatin1(m_received.constData() + m_readPos, n);
    m_readPos += n;
    compactBuffer();
}

void QtWinsock::onReadyRead()
{
    // The peer answers what it has taken.
    m_unacknowledged.invalidate();
    m_received.append(m_socket->readAll());
    emit DataArrival(static_cast<qint32>(qMin<qint64>(bytesWaiting(), INT32_MAX)));
}

void QtWinsock::compactBuffer()
{
    // Reading advances an offset; the consumed front is dropped only now and then so that taking
    // 255 bytes at a time stays linear in the amount received.
    if (m_readPos == m_received.size()) {
        m_received.clear();
        m_readPos = 0;
    } else if (m_readPos > 65536 && m_readPos * 2 > m_received.size()) {
        m_received.remove(0, m_readPos);
        m_readPos = 0;
    }
}
