#pragma once
// What the one-instance guard asks of the system: where the lock and the socket live, and whether
// what another process left there may be believed. One file per system answers it
// (instanceplace_unix.cpp, instanceplace_win.cpp); the exchange between two starts is shared
// (singleinstance.cpp).

#include <QString>

namespace InstancePlace {

// A directory of this user's own for the lock and the socket. Empty where none can be had.
QString defaultPlace();

// Whether a file another process left at path may be believed: one another user made could be a
// squatter's, put there to keep this user's client from starting. A missing file is believed.
bool ownedByUs(const QString &path);

} // namespace InstancePlace
