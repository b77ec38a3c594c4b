#include "app/exchangelog.h"

#include "core/logging.h"

#include <utility>

namespace {

// Text from the network on one log line: control characters, C0 and C1 (reply bytes 0x80 to 0x9F
// become U+0080 to U+009F: CSI starts a terminal's escape sequence, NEL ends a line in some viewers),
// are written as escapes, so that a reply cannot break the line, forge another or drive a terminal.
QByteArray printable(const QString &text)
{
    QByteArray out;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
            out += "\\x" + QByteArray::number(c.unicode(), 16).rightJustified(2, '0');
        else
            out += QString(c).toUtf8();
    }
    return out;
}

} // namespace

void ExchangeLog::connected(const QString &host, const QString &port, const QString &localIp)
{
    m_linked = true;
    m_givenUpWritten = false;
    m_lastError.reset();
    qCInfo(lcExchange, "connected to %s:%s from %s", qUtf8Printable(host), qUtf8Printable(port),
           qUtf8Printable(localIp));
}

void ExchangeLog::lost(const QString &host)
{
    if (!std::exchange(m_linked, false))
        return;
    qCInfo(lcExchange, "connection to %s closed by the service; reconnecting", qUtf8Printable(host));
}

void ExchangeLog::addressLeft(const QString &localIp)
{
    m_linked = false;
    qCInfo(lcExchange, "local address %s has left this machine; reconnecting from the current one",
           qUtf8Printable(localIp));
}

void ExchangeLog::attemptGivenUp(const QString &host, const QString &port)
{
    if (std::exchange(m_givenUpWritten, true))
        return;
    qCWarning(lcExchange, "no answer from %s:%s within three ticks; trying again every third tick",
              qUtf8Printable(host), qUtf8Printable(port));
}

void ExchangeLog::socketError(int number, const QString &description)
{
    m_linked = false;
    const std::pair<int, QString> error{number, description};
    if (m_lastError == error)
        return;
    m_lastError = error;
    qCWarning(lcExchange, "socket error %d: %s", number, qUtf8Printable(description));
}

void ExchangeLog::outcome(bool online, const QString &address)
{
    const std::pair<bool, QString> seen{online, address};
    if (m_lastOutcome == seen)
        return;
    m_lastOutcome = seen;
    if (online)
        qCInfo(lcExchange, "login succeeded; the service holds %s", printable(address).constData());
    else
        qCWarning(lcExchange, "login failed: username or password may be incorrect (the service holds %s)",
                  printable(address).constData());
}

void ExchangeLog::heldBack()
{
    if (std::exchange(m_heldBackWritten, true))
        return;
    qCWarning(lcExchange, "the service has not acknowledged the last request; holding the next ones back");
}

void ExchangeLog::stuckGivenUp(const QString &host)
{
    m_linked = false;
    m_heldBackWritten = false;
    qCWarning(lcExchange, "the connection to %s has not taken a request for three ticks; reconnecting",
              qUtf8Printable(host));
}

void ExchangeLog::localAddress(const QString &address)
{
    // Called as each request goes out: whatever held requests back is over.
    m_heldBackWritten = false;
    if (address == m_localAddress)
        return;
    m_localAddress = address;
    qCInfo(lcExchange, "local address is %s", qUtf8Printable(address));
}

void ExchangeLog::serviceSwitched(bool disabled)
{
    qCInfo(lcExchange, disabled ? "service disabled: no connection is made" : "service enabled");
}
