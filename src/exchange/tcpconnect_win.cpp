// Windows: WSASocket, a non-blocking connect() and SO_ERROR once FD_CONNECT has come (Qt's write
// notifier hears FD_CONNECT, whatever its outcome).
#include "exchange/tcpconnect.h"

#include <winsock2.h>

#include <ws2tcpip.h>

#include <cstring>

namespace {

// Qt starts Winsock only when it makes a socket of its own; the first attempt may come before.
struct WinsockStarted {
    WinsockStarted()
    {
        WSADATA data;
        started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockStarted()
    {
        if (started)
            ::WSACleanup();
    }
    bool started = false;
};

ConnectStep fromWsaError(int error)
{
    switch (error) {
    case 0:
    case WSAEISCONN:
        return {ConnectOutcome::Connected, {}};
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEALREADY:
        return {ConnectOutcome::InProgress, {}};
    case WSAECONNREFUSED:
        return {ConnectOutcome::Refused, {}};
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENOTCONN:
        return {ConnectOutcome::Reset, {}};
    case WSAETIMEDOUT:
        return {ConnectOutcome::TimedOut, {}};
    case WSAENETUNREACH:
    case WSAENETDOWN:
        return {ConnectOutcome::NetworkUnreachable, {}};
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN:
        return {ConnectOutcome::HostUnreachable, {}};
    case WSAEACCES:
        return {ConnectOutcome::AccessDenied, {}};
    case WSAEADDRINUSE:
        return {ConnectOutcome::AddressInUse, {}};
    case WSAEADDRNOTAVAIL:
        return {ConnectOutcome::AddressNotAvailable, {}};
    case WSAEMFILE:
    case WSAENOBUFS:
        return {ConnectOutcome::NoResources, {}};
    default:
        return {ConnectOutcome::Other, qt_error_string(error)};
    }
}

} // namespace

qintptr openTcpSocket(const QHostAddress &address, ConnectStep &failure)
{
    static const WinsockStarted winsock;
    const int family = address.protocol() == QAbstractSocket::IPv6Protocol ? AF_INET6 : AF_INET;
    const SOCKET s =
        ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    u_long nonBlocking = 1;
    if (s == INVALID_SOCKET || ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        failure = fromWsaError(::WSAGetLastError());
        if (s != INVALID_SOCKET)
            ::closesocket(s);
        return -1;
    }
    return qintptr(s);
}

ConnectStep startConnect(qintptr descriptor, const QHostAddress &address, quint16 port)
{
    sockaddr_storage storage{};
    int size = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *a6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&a6->sin6_addr, &bytes, sizeof bytes);
        a6->sin6_scope_id = address.scopeId().toULong();
        size = sizeof *a6;
    } else {
        auto *a4 = reinterpret_cast<sockaddr_in *>(&storage);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(port);
        a4->sin_addr.s_addr = htonl(address.toIPv4Address());
        size = sizeof *a4;
    }
    const SOCKET s = SOCKET(descriptor);
    if (::connect(s, reinterpret_cast<const sockaddr *>(&storage), size) == 0)
        return {ConnectOutcome::Connected, {}};
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK)
        return fromWsaError(error);
    // An attempt may already have failed by now, its error pending and no FD_CONNECT to come (Wine
    // refuses a loopback connection so); Qt's engine looks the same way.
    int pending = 0;
    int pendingSize = sizeof pending;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&pending), &pendingSize) == 0 && pending != 0)
        return fromWsaError(pending);
    return {ConnectOutcome::InProgress, {}};
}

ConnectStep finishConnect(qintptr descriptor)
{
    const auto s = SOCKET(descriptor);
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) != 0)
        error = ::WSAGetLastError();
    if (error == 0) {
        // FD_CONNECT with no error pending, yet with no peer: the connection ended before this look.
        sockaddr_storage peer{};
        int peerSize = sizeof peer;
        if (::getpeername(s, reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0)
            error = ::WSAGetLastError();
    }
    const ConnectStep step = fromWsaError(error);
    return step.outcome == ConnectOutcome::InProgress ? ConnectStep{ConnectOutcome::Reset, {}} : step;
}

void closeDescriptor(qintptr descriptor)
{
    if (descriptor >= 0 && SOCKET(descriptor) != INVALID_SOCKET)
        ::closesocket(SOCKET(descriptor));
}
