#pragma once
// Reply text for the tests of the reader and of the window that reads: one whole reply as the
// service sends it, and noise to flood either with.

#include <QByteArray>
#include <QRandomGenerator>

#include <iterator>

// A login that succeeds, with the session cookie in its head.
inline const QByteArray kReply = "HTTP/1.1 200 OK\r\n"
                                 "Server: Microsoft-IIS/6.0\r\n"
                                 "Content-Type: text/html\r\n"
                                 "Set-Cookie: ASPSESSIONIDQQ=FKLMNOPQ; path=/\r\n"
                                 "Cache-control: private\r\n"
                                 "\r\n"
                                 "<html>\r\n<head><title>DDNS</title></head>\r\n<body>\r\n"
                                 "s5555203.0.113.7:online<br>\r\n"
                                 "Your address has been updated.\r\n"
                                 "</body>\r\n</html>\r\n";

// Noise over every byte value, with the beginnings of everything the reader looks for mixed in.
inline QByteArray noise(qsizetype size, bool withFragments, quint32 seed)
{
    static const QByteArray fragments[] = {"<ht",           "< h t m", "s555",  "s5555",  "set-cook",
                                           "\nSet-Cookie:", "s5555x",  "<html", ":onlin", "\r\n"};
    QRandomGenerator rng(seed);
    QByteArray out;
    out.reserve(size + 32);
    while (out.size() < size) {
        if (withFragments && rng.bounded(8) == 0)
            out += fragments[rng.bounded(int(std::size(fragments)))];
        else
            out += char(rng.bounded(256));
    }
    out.truncate(size);
    return out;
}
