#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QTcpServer;
struct HttpRequest;

// Plays the dynamic-DNS update service on the loopback interface, so the client can be watched and
// tested without the internet. It reads login requests off kept-alive HTTP/1.1 connections, checks
// the account, and answers each with a small page carrying the status marker the client looks for.
// Switches make it misbehave the ways a real server or network can: closing a connection early,
// answering in several TCP writes, never answering, or dropping every connection at once.
class ServiceSimulator : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTokenLength = 24;
    // Pause between the pieces of a split reply, long enough for each to arrive as its own segment.
    static constexpr int kPieceDelayMs = 20;
    static constexpr char kLoginPath[] = "/asp/index.asp";

    explicit ServiceSimulator(QObject *parent = nullptr);
    ~ServiceSimulator() override;

    // Listens on a loopback address (127.0.0.1, ::1), or on an address of the documentation ranges
    // 203.0.113.0/24 and 2001:db8::/64 that only exist inside network namespaces a test made; never
    // on another interface. Port 0 picks a free port. Called again, it listens on a further address
    // as well, so that one service answers on both families; port 0 then means the port in use.
    bool listen(quint16 port = 0, const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));
    static bool isListenAddressAllowed(const QHostAddress &address);
    // Stops listening and drops every open connection.
    void close();
    bool isListening() const;
    quint16 port() const;
    QString errorString() const;

    void setAccount(const QString &username, const QString &password);
    // The address the status marker reports. Empty: the request's localip field, else the peer's address.
    void setAddress(const QString &address);
    // Closes a connection once it has been sent this many replies; 0 keeps it open.
    void setCloseAfter(int replies);
    // Writes every reply in pieces cut at these byte offsets, pausing between the pieces.
    void setSplitOffsets(const QList<int> &offsets);
    // Reads and counts requests but never answers them.
    void setSilent(bool silent);
    // Closes every connection as soon as it is accepted.
    void setRefuse(bool refuse);

    int requestCount() const { return m_requests; }
    int connectionCount() const { return m_connections; }
    QString lastUsername() const { return m_lastUsername; }
    QString lastPassword() const { return m_lastPassword; }
    QString lastLocalIp() const { return m_lastLocalIp; }
    // Where the last request came from.
    QHostAddress lastPeer() const { return m_lastPeer; }
    // The Cookie header of the last request, or a null string if it had none.
    QString lastCookie() const { return m_lastCookie; }
    // The session token handed to the newest connection.
    QByteArray lastToken() const { return m_lastToken; }

    // The complete reply to one login, exactly as it goes on the wire.
    static QByteArray buildReply(bool ok, const QString &address, const QByteArray &token);
    // The value of one field of an application/x-www-form-urlencoded body ('+' is a space, %XX a
    // byte, the bytes UTF-8), or nothing when the field is absent. The first occurrence counts.
    static std::optional<QString> formField(const QByteArray &body, const QByteArray &name);
    // "a,b,c" as byte offsets: positive whole numbers. Nothing on malformed text.
    static std::optional<QList<int>> parseOffsets(const QString &text);
    // Whether text may stand in the status marker: the client ends the address at a colon and the
    // status at a '<' or a line end, so only letters, digits, dots, hyphens and underscores qualify.
    static bool isMarkerSafe(const QString &text);

signals:
    void connectionAccepted(int number);
    void requestHandled(int number, const QString &username, bool ok);

private:
    struct Session;
    struct Piece {
        QByteArray bytes;
        bool pauseAfter = false;
    };

    QTcpServer *addServer();
    void acceptConnections(QTcpServer *server);
    void readRequests(Session *session);
    void answer(Session *session, const HttpRequest &request);
    void queueReply(Session *session, const QByteArray &reply);
    void writePending(Session *session);
    void dropSession(Session *session);

    // The first is always there; the others listen on further addresses.
    QList<QTcpServer *> m_servers;
    QString m_listenError;
    QList<Session *> m_sessions;

    QString m_username = QStringLiteral("demo");
    QString m_password = QStringLiteral("demo");
    QString m_address;
    int m_closeAfter = 0;
    QList<int> m_splitOffsets;
    bool m_silent = false;
    bool m_refuse = false;

    int m_requests = 0;
    int m_connections = 0;
    QString m_lastUsername;
    QString m_lastPassword;
    QString m_lastLocalIp;
    QHostAddress m_lastPeer;
    QString m_lastCookie;
    QByteArray m_lastToken;
};
