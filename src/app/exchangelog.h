#pragma once

#include <QString>

#include <optional>

// What the update exchange writes to the log (category vestrel.exchange): one line for each change
// of state, never one per tick. It remembers what it last wrote, so that a service refusing every
// attempt or a login failing on every tick is written once, until something changes. Only
// addresses, hosts and error texts are written: never the account or the cookie.
class ExchangeLog
{
public:
    void connected(const QString &host, const QString &port, const QString &localIp);
    // The peer has closed the connection (noticed on a tick).
    void lost(const QString &host);
    // The client closed it itself.
    void closed() { m_linked = false; }
    void addressLeft(const QString &localIp);
    void attemptGivenUp(const QString &host, const QString &port);
    void socketError(int number, const QString &description);
    void outcome(bool online, const QString &address);
    void localAddress(const QString &address);
    // A tick's request was held back: the last one is still unacknowledged.
    void heldBack();
    // A connection was given up because its socket kept a request unsent for three ticks.
    void stuckGivenUp(const QString &host);
    void serviceSwitched(bool disabled);

private:
    bool m_linked = false;
    bool m_givenUpWritten = false;
    bool m_heldBackWritten = false;
    std::optional<std::pair<int, QString>> m_lastError;
    std::optional<std::pair<bool, QString>> m_lastOutcome;
    QString m_localAddress;
};
