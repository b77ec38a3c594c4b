#pragma once
// Checks on an open connection that the socket itself does not make.

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>

// Whether a connection's local address has left the machine: it is none of the machine's addresses
// (an IPv4-mapped IPv6 address counts as its IPv4 address). A connection whose local address is not
// known, or a machine list that is empty because it could not be read, never judges it gone.
bool localAddressGone(const QHostAddress &local, const QList<QHostAddress> &machine);

// How long sent data may stay unacknowledged before the system gives the connection up: long
// enough for a busy path, short enough that requests do not pile up behind a dead one.
inline constexpr int kUnacknowledgedLimitMs = 25000;

// Bytes written to a connected socket's descriptor that the peer has not acknowledged yet (sent or
// still queued in the system), or -1 where the system does not say (Linux: SIOCOUTQ; Windows 10
// 1703 and later: SIO_TCP_INFO). Where it does not, the log says so once.
qint64 unacknowledgedBytes(qintptr descriptor);

// Sets that limit on a connected socket's descriptor, where the system offers it (Linux:
// TCP_USER_TIMEOUT; Windows: TCP_MAXRT, in whole seconds). False where it could not be set; on
// Windows the log then says so once.
bool setUnacknowledgedLimit(qintptr descriptor, int milliseconds);

// Whether Qt's report of a failed connection is the system giving it up (that limit, or too many
// retransmissions): Qt reports it only as a network error carrying the system's text.
bool systemTimedOut(QAbstractSocket::SocketError error, const QString &errorString);
