// Linux: SIOCOUTQ, TCP_USER_TIMEOUT, and ETIMEDOUT as Qt's Unix socket engine reports it.
#include "exchange/tcpoptions.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

qint64 unacknowledgedBytes(qintptr descriptor)
{
    int queued = 0;
    if (descriptor >= 0 && ::ioctl(static_cast<int>(descriptor), SIOCOUTQ, &queued) == 0)
        return queued;
    return -1;
}

bool setUnacknowledgedLimit(qintptr descriptor, int milliseconds)
{
    if (descriptor < 0)
        return false;
    const unsigned int value = static_cast<unsigned int>(milliseconds);
    return ::setsockopt(static_cast<int>(descriptor), IPPROTO_TCP, TCP_USER_TIMEOUT, &value, sizeof value) == 0;
}

SocketFailure socketFailure(QAbstractSocket::SocketError error, const QString &errorString)
{
    switch (error) {
    case QAbstractSocket::SocketTimeoutError:
        // A read that met ETIMEDOUT: the limit above, or too many retransmissions.
        return SocketFailure::TimedOut;
    case QAbstractSocket::NetworkError:
        // A connect that met ETIMEDOUT, with the system's text.
        return errorString == qt_error_string(ETIMEDOUT) ? SocketFailure::TimedOut : SocketFailure::Other;
    case QAbstractSocket::RemoteHostClosedError:
        return SocketFailure::Ended;
    default:
        return SocketFailure::Other;
    }
}
