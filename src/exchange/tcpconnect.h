#pragma once
// The system's side of opening a TCP connection: a non-blocking socket, its connect(), and what
// the system says of the handshake once the socket can write. Qt's socket engines know no
// "connection reset" while connecting: the Unix engine keeps "connecting" and calls connect()
// again, which starts a new handshake, unseen, for as long as the peer resets them; the Windows
// engine has no case for it either. So the socket component makes the connection itself and hands
// Qt a connected socket. One file per system answers it (tcpconnect_unix.cpp, tcpconnect_win.cpp).

#include <QHostAddress>
#include <QString>

// What the system says of an attempt.
enum class ConnectOutcome {
    Connected,
    InProgress,
    Refused,
    Reset, // the peer reset the handshake, or it ended unseen before the client looked
    TimedOut,
    NetworkUnreachable,
    HostUnreachable,
    AccessDenied, // a local firewall, or a port the client may not use
    AddressInUse,
    AddressNotAvailable,
    NoResources, // no descriptors, buffers or memory
    Other,
};

struct ConnectStep {
    ConnectOutcome outcome = ConnectOutcome::Other;
    QString systemText; // the system's own words, for Other
};

// A non-blocking TCP socket of the address's family, or -1 when none could be made (failure says
// why).
qintptr openTcpSocket(const QHostAddress &address, ConnectStep &failure);
// Starts the socket's connection to address:port; how the attempt stands.
ConnectStep startConnect(qintptr descriptor, const QHostAddress &address, quint16 port);
// What became of the attempt once the socket reports it can write.
ConnectStep finishConnect(qintptr descriptor);
// Closes a descriptor that was never handed to Qt.
void closeDescriptor(qintptr descriptor);
