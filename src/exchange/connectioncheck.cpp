#include "exchange/connectioncheck.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>

#if defined(Q_OS_LINUX)
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#elif defined(Q_OS_WIN)
#include "core/logging.h"

#include <winsock2.h>

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <atomic>

// The headers hide these behind newer Windows versions than the build targets, or lack them; the
// values are the system's own. TCP_MAXRT is in whole seconds.
#if !defined(TCP_MAXRT)
#define TCP_MAXRT 5
#endif
#if !defined(SIO_TCP_INFO)
#define SIO_TCP_INFO _WSAIORW(IOC_VENDOR, 39)
#endif
#endif

namespace {

QHostAddress unmapped(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4) : address;
}

#if defined(Q_OS_WIN)
// What SIO_TCP_INFO answers to version 0 (Windows 10 1703 and later).
struct TcpInfoV0 {
    int State;
    ULONG Mss;
    ULONG64 ConnectionTimeMs;
    BOOLEAN TimestampsEnabled;
    ULONG RttUs;
    ULONG MinRttUs;
    ULONG BytesInFlight;
    ULONG Cwnd;
    ULONG SndWnd;
    ULONG RcvWnd;
    ULONG RcvBuf;
    ULONG64 BytesOut;
    ULONG64 BytesIn;
    ULONG BytesReordered;
    ULONG BytesRetrans;
    ULONG FastRetrans;
    ULONG DupAcksIn;
    ULONG TimeoutEpisodes;
    UCHAR SynRetrans;
};

// A system that lacks something says so once, not at every connection or tick.
void noteOnce(std::atomic_bool &said, const char *what, int error)
{
    if (!said.exchange(true))
        qCInfo(lcExchange, "%s (Windows socket error %d)", what, error);
}
#endif

} // namespace

bool localAddressGone(const QHostAddress &local, const QList<QHostAddress> &machine)
{
    // Loopback is always up, so an empty list is a reading that failed (no descriptors left, a
    // sandbox that hides the interfaces), not a machine without addresses.
    if (local.isNull() || machine.isEmpty())
        return false;
    const QHostAddress wanted = unmapped(local);
    return std::none_of(machine.cbegin(), machine.cend(), [&wanted](const QHostAddress &address) {
        // The scope (interface) of a link-local address does not make it another address.
        QHostAddress plain = unmapped(address);
        plain.setScopeId(QString());
        QHostAddress target = wanted;
        target.setScopeId(QString());
        return plain == target;
    });
}

qint64 unacknowledgedBytes(qintptr descriptor)
{
#if defined(Q_OS_LINUX)
    int queued = 0;
    if (descriptor >= 0 && ::ioctl(static_cast<int>(descriptor), SIOCOUTQ, &queued) == 0)
        return queued;
#elif defined(Q_OS_WIN)
    if (descriptor < 0)
        return -1;
    DWORD version = 0;
    TcpInfoV0 info{};
    DWORD size = 0;
    if (::WSAIoctl(static_cast<SOCKET>(descriptor), SIO_TCP_INFO, &version, sizeof version, &info, sizeof info, &size,
                   nullptr, nullptr)
            == 0
        && size >= offsetof(TcpInfoV0, BytesInFlight) + sizeof info.BytesInFlight)
        return info.BytesInFlight;
    static std::atomic_bool said{false};
    noteOnce(said,
             "the system does not tell the unacknowledged bytes of a connection (SIO_TCP_INFO); only what "
             "the socket still holds counts as unsent",
             ::WSAGetLastError());
#else
    Q_UNUSED(descriptor);
#endif
    return -1;
}

bool setUnacknowledgedLimit(qintptr descriptor, int milliseconds)
{
    if (descriptor < 0)
        return false;
#if defined(Q_OS_LINUX)
    const unsigned int value = static_cast<unsigned int>(milliseconds);
    return ::setsockopt(static_cast<int>(descriptor), IPPROTO_TCP, TCP_USER_TIMEOUT, &value, sizeof value) == 0;
#elif defined(Q_OS_WIN)
    const DWORD seconds = static_cast<DWORD>((milliseconds + 999) / 1000);
    if (::setsockopt(static_cast<SOCKET>(descriptor), IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char *>(&seconds),
                     sizeof seconds)
        == 0)
        return true;
    static std::atomic_bool said{false};
    noteOnce(said,
             "the system does not let a connection give up unacknowledged data (TCP_MAXRT); a dead path "
             "ends only at its own retransmission limit",
             ::WSAGetLastError());
    return false;
#else
    Q_UNUSED(milliseconds);
    return false;
#endif
}

bool systemTimedOut(QAbstractSocket::SocketError error, const QString &errorString)
{
    if (error == QAbstractSocket::SocketTimeoutError)
        return true;
#if defined(Q_OS_WIN)
    // Windows' socket engine in Qt passes WSAETIMEDOUT from a read or write on as a network error,
    // or as the peer's close, with only the system's text.
    return (error == QAbstractSocket::NetworkError || error == QAbstractSocket::RemoteHostClosedError)
           && errorString == qt_error_string(WSAETIMEDOUT);
#elif defined(Q_OS_UNIX)
    return error == QAbstractSocket::NetworkError && errorString == qt_error_string(ETIMEDOUT);
#else
    Q_UNUSED(errorString);
    return false;
#endif
}
