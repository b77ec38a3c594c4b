#include "exchange/qtwinsock.h"

#include "core/errors.h"
#include "exchange/connectioncheck.h"
#include "exchange/tcpoptions.h"

#include <QHostAddress>
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

} // namespace

QtWinsock::QtWinsock(QObject *parent)
    : Winsock(parent), m_socket(new QTcpSocket(this)), m_addresses(new MachineAddresses(this))
{
    // A new lease or another network usually comes as a burst of reports (the old address goes,
    // the new one comes a moment later): they are raised as one event, once the burst is over, and
    // after whatever the first report's attempt has raised meanwhile.
    m_addressSettle.setSingleShot(true);
    m_addressSettle.setInterval(kAddressSettleMs);
    connect(m_addresses, &MachineAddresses::changed, &m_addressSettle, qOverload<>(&QTimer::start));
    connect(&m_addressSettle, &QTimer::timeout, this, &Winsock::AddressChange);
    connect(m_socket, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState s) {
        if (s == QAbstractSocket::HostLookupState)
            m_state = sckResolvingHost;
        else if (s == QAbstractSocket::ConnectingState)
            m_state = sckConnecting;
    });
    connect(m_socket, &QAbstractSocket::connected, this, [this] {
        m_state = sckConnected;
        // Requests sent into a path that has silently died would otherwise pile up for a quarter
        // of an hour and reach the service all at once when it comes back.
        setUnacknowledgedLimit(m_socket->socketDescriptor(), kUnacknowledgedLimitMs);
        emit ConnectEvent();
    });
    connect(m_socket, &QAbstractSocket::disconnected, this, [this] {
        // The peer closed the connection. This is not an error event: the owner notices it by
        // looking at State() on its next tick.
        if (m_state == sckConnected)
            m_state = sckClosing;
    });
    connect(m_socket, &QIODevice::readyRead, this, &QtWinsock::onReadyRead);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::HostNotFoundError && !m_overIPv6) {
            // The name has no IPv4 address: IPv6 is tried now. A name with no address at all fails
            // that way too and is reported then; its lookup is in Qt's cache by now, so the second
            // try costs no second wait. Started from the event loop, not from inside Qt's report.
            m_overIPv6 = true;
            QMetaObject::invokeMethod(
                this,
                [this, attempt = m_attempt] {
                    if (attempt != m_attempt)
                        return;
                    // Qt may report this try's failure from inside connectToHost() too.
                    const QScopedValueRollback inCall(m_inCall, true);
                    connectSocket();
                },
                Qt::QueuedConnection);
            return;
        }
        // Judged by cause: Windows reports a connection it gave up as the peer's reset, and a
        // connect it timed out under a text of Qt's own.
        const FailureShown shown = judgeFailure(socketFailure(error, m_socket->errorString()), unacknowledgedForMs());
        if (shown == FailureShown::Closed) {
            if (m_state == sckConnected)
                m_state = sckClosing;
            return;
        }
        const SocketErrorText text =
            shown == FailureShown::TimedOut ? SocketErrorText{10060, "Connection timed out"} : describe(error);
        const QString description = text.description ? QString::fromLatin1(text.description) : m_socket->errorString();
        const int attempt = m_attempt;
        m_state = sckError;
        // Raised at once, so that no tick can close the socket between the failure and its event
        // and so drop the event unseen.
        if (!m_inCall) {
            emit Error(text.number, description, 0, QStringLiteral("Winsock"), QString(), 0, false);
            return;
        }
        // Qt reports some failures from inside connectToHost(); the event must still arrive later,
        // from the event loop, like every other socket event. Only a Close() before then drops it.
        QMetaObject::invokeMethod(
            this,
            [this, attempt, number = text.number, description] {
                if (attempt != m_attempt)
                    return;
                emit Error(number, description, 0, QStringLiteral("Winsock"), QString(), 0, false);
            },
            Qt::QueuedConnection);
    });
}

QtWinsock::~QtWinsock()
{
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
    m_socket->abort();
    m_unacknowledged.invalidate();
    m_received.clear();
    m_readPos = 0;
    m_state = sckClosed;
}

void QtWinsock::Connect()
{
    if (m_state != sckClosed)
        throw VbError(Err::InvalidOperationAtState, QStringLiteral("Invalid operation at current state"));
    ++m_attempt;
    m_unacknowledged.invalidate();
    m_acknowledgementKnown = true;
    m_received.clear();
    m_readPos = 0;
    m_state = sckConnecting;
    m_overIPv6 = false;
    const QScopedValueRollback inCall(m_inCall, true);
    connectSocket();
}

void QtWinsock::connectSocket()
{
    // The service reads the local address as dotted IPv4, so the connection is made over IPv4
    // wherever the name has an IPv4 address, though the system may prefer IPv6. Qt leaves the
    // other family's addresses out and reports a name with none of this one as not found. The
    // local port is always 0 here: the system picks one.
    m_socket->connectToHost(m_remoteHost, static_cast<quint16>(m_remotePort), QIODevice::ReadWrite,
                            m_overIPv6 ? QAbstractSocket::IPv6Protocol : QAbstractSocket::IPv4Protocol);
}

QString QtWinsock::LocalIP() const
{
    auto text = [](const QHostAddress &address) {
        bool mapped = false;
        const quint32 v4 = address.toIPv4Address(&mapped);
        return mapped ? QHostAddress(v4).toString() : address.toString();
    };
    if (m_state == sckConnected && !m_socket->localAddress().isNull())
        return text(m_socket->localAddress());
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
        throw VbError(Err::WrongProtocolState,
                      QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
    const QScopedValueRollback inCall(m_inCall, true);
    if (!m_unacknowledged.isValid())
        m_unacknowledged.start();
    m_socket->write(data.toLatin1());
}

bool QtWinsock::SendBacklog() const
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

bool QtWinsock::SendPending() const
{
    return m_state == sckConnected && m_socket->bytesToWrite() > 0;
}

bool QtWinsock::LocalAddressGone() const
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
