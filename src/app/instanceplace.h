#pragma once
// What the one-instance guard asks of the system: where the lock and the socket live, and whether
// what another process left there may be believed. One file per system answers it
// (instanceplace_unix.cpp, instanceplace_win.cpp); the exchange between two starts is shared
// (singleinstance.cpp).

#include <QString>

class QLocalSocket;

namespace InstancePlace {

// A directory of this user's own for the lock and the socket. Empty where none can be had.
QString defaultPlace();

// Whether a file another process left at path may be believed: one another user made could be a
// squatter's, put there to keep this user's client from starting. A missing file is believed.
bool ownedByUs(const QString &path);

// What names the program folder for the guard: one text for every spelling of one folder (a link,
// another letter case, a short name, another drive letter for the same place). An empty text where
// the system cannot tell.
QString folderIdentity(const QString &folder);

// Whether the holder's socket, just connected to, is served by the process that holds the lock
// (holder, as the lock names it): where another user can take the socket's name first, anyone
// else's answer would be believed.
bool servedByHolder(QLocalSocket &socket, qint64 holder);

// Lets the holder bring its window to the front. Where the system keeps a background process from
// taking the foreground, the start the user just made hands its own right over.
void letHolderTakeForeground(qint64 holder);

} // namespace InstancePlace
