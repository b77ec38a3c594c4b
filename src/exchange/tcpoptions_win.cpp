// Windows: SIO_TCP_INFO (or, without it, a send buffer over its quota), TCP_MAXRT, and the failures
// as Qt's Windows socket engine reports them.
#include "exchange/tcpoptions_win.h"

#include "core/logging.h"

#include <winsock2.h>

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <QCoreApplication>

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

// A system that lacks something says so once, not at every connection or tick.
void noteOnce(std::atomic_bool &said, const char *what, int error)
{
    if (!said.exchange(true))
        qCInfo(lcExchange, "%s (Windows socket error %d)", what, error);
}

} // namespace

qint64 backlogFromTcpInfo(const TcpInfoV0 &info, unsigned long size)
{
    if (size < offsetof(TcpInfoV0, SndWnd) + sizeof info.SndWnd)
        return -1;
    if (info.BytesInFlight > 0)
        return info.BytesInFlight;
    return info.SndWnd == 0 ? 1 : 0;
}

qint64 unacknowledgedBytes(qintptr descriptor)
{
    if (descriptor < 0)
        return -1;
    DWORD version = 0;
    TcpInfoV0 info{};
    DWORD size = 0;
    if (::WSAIoctl(static_cast<SOCKET>(descriptor), SIO_TCP_INFO, &version, sizeof version, &info, sizeof info, &size,
                   nullptr, nullptr)
        == 0) {
        if (const qint64 backlog = backlogFromTcpInfo(info, size); backlog >= 0)
            return backlog;
    }
    static std::atomic_bool said{false};
    noteOnce(said,
             "the system does not tell the unacknowledged bytes of a connection (SIO_TCP_INFO); what the "
             "socket still holds counts as unsent, and so does a send buffer over its quota",
             ::WSAGetLastError());
    // Winsock takes a whole send while what it buffers is within SO_SNDBUF, however large the send,
    // so a program's own buffer empties at once; the socket is then not writable until what the
    // system holds is back within that quota.
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(static_cast<SOCKET>(descriptor), &writable);
    timeval now{0, 0};
    if (::select(0, nullptr, &writable, nullptr, &now) == 0)
        return 1;
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
    // Qt 6's Windows socket engine never passes the system's text on; it files each system error
    // under one of its own texts (qnativesocketengine_win.cpp, qnativesocketengine.cpp):
    //   connect, WSAETIMEDOUT                    NetworkError, "Connection timed out"
    //   read, WSAECONNRESET or WSAECONNABORTED   RemoteHostClosedError, "The remote host closed the
    //                                            connection", as for a peer's orderly close
    //   write, WSAECONNRESET or WSAECONNABORTED  NetworkError, "Unable to write"
    //   read, any other error                    NetworkError, the system's text (qt_error_string)
    // The system aborts a connection whose data stays unacknowledged for TCP_MAXRT with
    // WSAECONNABORTED, so that give-up is told apart from a peer's reset only by what the client
    // knows of its own unacknowledged data (judgeFailure).
    const auto engineText = [](const char *text) { return QCoreApplication::translate("QNativeSocketEngine", text); };
    switch (error) {
    case QAbstractSocket::SocketTimeoutError:
        return SocketFailure::TimedOut;
    case QAbstractSocket::RemoteHostClosedError:
        return SocketFailure::Ended;
    case QAbstractSocket::NetworkError:
        if (errorString == engineText("Connection timed out") || errorString == qt_error_string(WSAETIMEDOUT))
            return SocketFailure::TimedOut;
        if (errorString == engineText("Unable to write"))
            return SocketFailure::Ended;
        return SocketFailure::Other;
    default:
        return SocketFailure::Other;
    }
}
