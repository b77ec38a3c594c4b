#include "exchange/connectioncheck.h"

#include <algorithm>

#if defined(Q_OS_LINUX)
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#elif defined(Q_OS_WIN)
#include <winsock2.h>
#include <ws2tcpip.h>
#endif

namespace {

QHostAddress unmapped(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4) : address;
}

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
#elif defined(Q_OS_WIN) && defined(TCP_MAXRT)
    const DWORD seconds = static_cast<DWORD>((milliseconds + 999) / 1000);
    return ::setsockopt(static_cast<SOCKET>(descriptor), IPPROTO_TCP, TCP_MAXRT,
                        reinterpret_cast<const char *>(&seconds), sizeof seconds)
           == 0;
#else
    Q_UNUSED(milliseconds);
    return false;
#endif
}
