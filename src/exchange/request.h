#pragma once
// The update request: log in and report the local address.

#include <QString>

// application/x-www-form-urlencoded value over UTF-8: ASCII letters, digits and "*-._" stay, a space
// becomes "+", every other byte becomes "%XX" with upper-case hex.
QString formEncode(const QString &value);

// Drops CR, LF and NUL, so that a value placed in a header line can never end that line early and
// start a header of its own.
QString headerSafe(const QString &value);

// The complete request, head and body, one character per byte on the wire. The account and the
// local address are trimmed and form-encoded in the body; the Referer line carries the local address
// as it was read. cookie is the name=value pair captured from the last Set-Cookie header, or empty.
QString buildUpdateRequest(const QString &username, const QString &password, const QString &localIP,
                           const QString &remoteHost, const QString &cookie);
