#pragma once
// Checks on an open connection that the socket itself does not make.

#include "exchange/tcpoptions.h"

#include <QHostAddress>
#include <QList>

// An IPv4-mapped IPv6 address (::ffff:192.0.2.1) as the IPv4 address it carries; any other as it is.
QHostAddress unmapped(const QHostAddress &address);

// Whether a connection's local address has left the machine: it is none of the machine's addresses
// (an IPv4-mapped IPv6 address counts as its IPv4 address). A connection whose local address is not
// known, or a machine list that is empty because it could not be read, never judges it gone.
bool localAddressGone(const QHostAddress &local, const QList<QHostAddress> &machine);

// How long sent data may stay unacknowledged before the system gives the connection up: long
// enough for a busy path, short enough that requests do not pile up behind a dead one.
inline constexpr int kUnacknowledgedLimitMs = 25000;

// How a failed attempt or connection shows, given what Qt's report says the system did and how long
// the client's own sent data had then waited for acknowledgement (-1: none waiting, or the system
// does not say).
enum class FailureShown {
    TimedOut, // 10060 "Connection timed out"
    Closed,   // the peer ended it: no error, the next tick reconnects
    Error,    // the error Qt reports
};
// A connection that ends, in whatever way Qt files it, once data has waited for the whole limit is
// the system giving it up: on Windows that abort reaches Qt like a peer's reset. The system's
// timers are coarse, so a second short of the limit counts.
FailureShown judgeFailure(SocketFailure failure, qint64 unacknowledgedForMs);
