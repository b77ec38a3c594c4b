#pragma once
// Checks on an open connection that the socket itself does not make.

#include <QHostAddress>
#include <QList>

// Whether a connection's local address has left the machine: it is none of the machine's addresses
// (an IPv4-mapped IPv6 address counts as its IPv4 address). A connection whose local address is not
// known, or a machine list that is empty because it could not be read, never judges it gone.
bool localAddressGone(const QHostAddress &local, const QList<QHostAddress> &machine);

// How long sent data may stay unacknowledged before the system gives the connection up: long
// enough for a busy path, short enough that requests do not pile up behind a dead one.
inline constexpr int kUnacknowledgedLimitMs = 25000;
