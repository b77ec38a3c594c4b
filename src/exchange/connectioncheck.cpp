#include "exchange/connectioncheck.h"

#include <algorithm>

QHostAddress unmapped(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4) : address;
}

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

FailureShown judgeFailure(SocketFailure failure, qint64 unacknowledgedForMs)
{
    constexpr qint64 kCoarseness = 1000;
    if (failure == SocketFailure::TimedOut || unacknowledgedForMs >= kUnacknowledgedLimitMs - kCoarseness)
        return FailureShown::TimedOut;
    return failure == SocketFailure::Ended ? FailureShown::Closed : FailureShown::Error;
}
