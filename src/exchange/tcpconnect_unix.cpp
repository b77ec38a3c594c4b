// Unix: socket(), a non-blocking connect() and SO_ERROR, with errno read as each system spells it.
#include "exchange/tcpconnect.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

ConnectStep fromErrno(int error)
{
    switch (error) {
    case 0:
    case EISCONN:
        return {ConnectOutcome::Connected, {}};
    case EINPROGRESS:
    case EALREADY:
    case EINTR: // the handshake goes on without the call
        return {ConnectOutcome::InProgress, {}};
    case ECONNREFUSED:
        return {ConnectOutcome::Refused, {}};
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case EPIPE:
        return {ConnectOutcome::Reset, {}};
    case ETIMEDOUT:
        return {ConnectOutcome::TimedOut, {}};
    case ENETUNREACH:
    case ENETDOWN:
        return {ConnectOutcome::NetworkUnreachable, {}};
    case EHOSTUNREACH:
    case EHOSTDOWN:
        return {ConnectOutcome::HostUnreachable, {}};
    case EACCES:
    case EPERM:
        return {ConnectOutcome::AccessDenied, {}};
    case EADDRINUSE:
        return {ConnectOutcome::AddressInUse, {}};
    case EADDRNOTAVAIL:
        return {ConnectOutcome::AddressNotAvailable, {}};
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return {ConnectOutcome::NoResources, {}};
    default:
        return {ConnectOutcome::Other, QString::fromLocal8Bit(std::strerror(error))};
    }
}

} // namespace

qintptr openTcpSocket(const QHostAddress &address, ConnectStep &failure)
{
    const int family = address.protocol() == QAbstractSocket::IPv6Protocol ? AF_INET6 : AF_INET;
    const int fd = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0
        || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        failure = fromErrno(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

ConnectStep startConnect(qintptr descriptor, const QHostAddress &address, quint16 port)
{
    sockaddr_storage storage{};
    socklen_t size = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *a6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&a6->sin6_addr, &bytes, sizeof bytes);
        a6->sin6_scope_id = address.scopeId().toUInt();
        size = sizeof *a6;
    } else {
        auto *a4 = reinterpret_cast<sockaddr_in *>(&storage);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(port);
        a4->sin_addr.s_addr = htonl(address.toIPv4Address());
        size = sizeof *a4;
    }
    return fromErrno(::connect(int(descriptor), reinterpret_cast<const sockaddr *>(&storage), size) == 0 ? 0 : errno);
}

ConnectStep finishConnect(qintptr descriptor)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error == 0) {
        // Writable with no error pending, yet with no peer: the connection ended before this look.
        sockaddr_storage peer{};
        socklen_t peerSize = sizeof peer;
        if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0)
            error = errno;
    }
    const ConnectStep step = fromErrno(error);
    // Writable means the handshake is over, one way or the other.
    return step.outcome == ConnectOutcome::InProgress ? ConnectStep{ConnectOutcome::Reset, {}} : step;
}

void closeDescriptor(qintptr descriptor)
{
    if (descriptor >= 0)
        ::close(int(descriptor));
}
