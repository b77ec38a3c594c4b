#pragma once
// What the system tells of, and lets be set on, a TCP connection beyond what Qt offers. One file per
// system answers it (tcpoptions_linux.cpp, tcpoptions_win.cpp); tcpoptions_none.cpp answers
// "unknown" wherever neither is built.

#include <QAbstractSocket>
#include <QString>

// Bytes the system holds for a connected socket's descriptor that the peer has not taken yet, or -1
// where the system does not say (then the log says so once). Linux (SIOCOUTQ): sent and not yet
// acknowledged, plus not yet sent. Windows 10 1703 and later (SIO_TCP_INFO): sent and not yet
// acknowledged, and, while the peer's receive window is closed, at least one byte for what waits
// unsent behind it. Windows without SIO_TCP_INFO: at least one byte while the send buffer is over
// its quota (the socket is not writable), else -1.
qint64 unacknowledgedBytes(qintptr descriptor);

// Sets how long sent data may stay unacknowledged before the system gives the connection up, where
// the system offers it (Linux: TCP_USER_TIMEOUT; Windows: TCP_MAXRT, in whole seconds). False where
// it could not be set; on Windows the log then says so once.
bool setUnacknowledgedLimit(qintptr descriptor, int milliseconds);

// What Qt's report of a failed connection says the system did. Qt files the same system error under
// different errors and texts on each system, and sometimes hides it behind its own.
enum class SocketFailure {
    TimedOut, // the system gave the attempt or the connection up: no answer in time
    Ended,    // the connection ended under the client: the peer closed or reset it, or the system
              // aborted it (Windows does not tell which)
    Other,    // anything else: refused, unreachable, no such host...
};
SocketFailure socketFailure(QAbstractSocket::SocketError error, const QString &errorString);
