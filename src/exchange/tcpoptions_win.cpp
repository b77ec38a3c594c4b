// Windows: SIO_TCP_INFO, TCP_MAXRT, and WSAETIMEDOUT as Qt's Windows socket engine reports it.
#include "exchange/tcpoptions.h"

#include "core/logging.h"

#include <winsock2.h>

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstddef>

// The headers hide these behind newer Windows versions than the build targets, or lack them; the
// values are the system's own. TCP_MAXRT is in whole seconds.
#if !defined(TCP_MAXRT)
#define TCP_MAXRT 5
#endif
#if !defined(SIO_TCP_INFO)
#define SIO_TCP_INFO _WSAIORW(IOC_VENDOR, 39)
#endif

namespace {

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

} // namespace

qint64 unacknowledgedBytes(qintptr descriptor)
{
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
    return -1;
}

bool setUnacknowledgedLimit(qintptr descriptor, int milliseconds)
{
    if (descriptor < 0)
        return false;
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
}

SocketFailure socketFailure(QAbstractSocket::SocketError error, const QString &errorString)
{
    if (error == QAbstractSocket::SocketTimeoutError)
        return SocketFailure::TimedOut;
    // Windows' socket engine in Qt passes WSAETIMEDOUT from a read or write on as a network error,
    // or as the peer's close, with only the system's text.
    if ((error == QAbstractSocket::NetworkError || error == QAbstractSocket::RemoteHostClosedError)
        && errorString == qt_error_string(WSAETIMEDOUT))
        return SocketFailure::TimedOut;
    return error == QAbstractSocket::RemoteHostClosedError ? SocketFailure::Ended : SocketFailure::Other;
}
