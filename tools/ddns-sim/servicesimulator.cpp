#include "servicesimulator.h"

#include "httprequestreader.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

// One accepted connection: its socket, what it has sent so far, and what is still to be written.
// A QObject so that queued work for a connection that has gone away is dropped with it.
struct ServiceSimulator::Session : QObject {
    QTcpSocket *socket = nullptr;
    QTimer *pause = nullptr;
    HttpRequestReader reader;
    QByteArray token;
    QList<Piece> queue;
    int repliesQueued = 0;
    // Set once the connection is to end: nothing more is read, and the socket closes when the
    // queue has been written.
    bool closing = false;
};

namespace {

QByteArray newToken()
{
    QByteArray token(ServiceSimulator::kTokenLength, 'A');
    for (char &c : token)
        c = static_cast<char>('A' + QRandomGenerator::global()->bounded(26));
    return token;
}

QString addressText(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// '+' is a space and %XX a byte; a '%' not followed by two hex digits stands for itself.
QByteArray formDecode(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.append(' ');
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out.append(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

QByteArray plainReply(QByteArrayView statusLine, QByteArrayView text, bool keepAlive)
{
    QByteArray reply;
    reply += statusLine;
    reply += "\r\nServer: ddns-sim\r\nContent-Type: text/plain\r\nContent-Length: ";
    reply += QByteArray::number(text.size());
    reply += keepAlive ? "\r\nConnection: Keep-Alive\r\n\r\n" : "\r\nConnection: close\r\n\r\n";
    reply += text;
    return reply;
}

} // namespace

ServiceSimulator::ServiceSimulator(QObject *parent) : QObject(parent)
{
    addServer();
}

ServiceSimulator::~ServiceSimulator()
{
    // Sockets must not report their end into a half-destroyed simulator.
    for (Session *session : std::as_const(m_sessions))
        session->socket->disconnect(this);
    qDeleteAll(m_sessions);
}

QTcpServer *ServiceSimulator::addServer()
{
    auto *server = new QTcpServer(this);
    connect(server, &QTcpServer::newConnection, this, [this, server] { acceptConnections(server); });
    m_servers.append(server);
    return server;
}

bool ServiceSimulator::listen(quint16 port, const QHostAddress &address)
{
    if (!isListenAddressAllowed(address)) {
        m_listenError = QStringLiteral("address not allowed");
        return false;
    }
    const bool further = m_servers.constFirst()->isListening();
    QTcpServer *server = further ? addServer() : m_servers.constFirst();
    if (further && port == 0)
        port = this->port();
    if (server->listen(address, port))
        return true;
    m_listenError = server->errorString();
    if (further)
        delete m_servers.takeLast();
    return false;
}

bool ServiceSimulator::isListenAddressAllowed(const QHostAddress &address)
{
    return address == QHostAddress(QHostAddress::LocalHost) || address == QHostAddress(QHostAddress::LocalHostIPv6)
           || address.isInSubnet(QHostAddress(QStringLiteral("203.0.113.0")), 24)
           || address.isInSubnet(QHostAddress(QStringLiteral("2001:db8::")), 64);
}

void ServiceSimulator::close()
{
    while (m_servers.size() > 1)
        delete m_servers.takeLast();
    m_servers.constFirst()->close();
    const QList<Session *> sessions = std::exchange(m_sessions, {});
    for (Session *session : sessions) {
        session->socket->disconnect(this);
        session->pause->stop();
        session->socket->abort();
        session->deleteLater();
    }
}

bool ServiceSimulator::isListening() const
{
    return m_servers.constFirst()->isListening();
}

quint16 ServiceSimulator::port() const
{
    return m_servers.constFirst()->serverPort();
}

QString ServiceSimulator::errorString() const
{
    return m_listenError;
}

void ServiceSimulator::setAccount(const QString &username, const QString &password)
{
    m_username = username;
    m_password = password;
}

void ServiceSimulator::setAddress(const QString &address)
{
    m_address = address;
}

void ServiceSimulator::setCloseAfter(int replies)
{
    m_closeAfter = qMax(replies, 0);
}

void ServiceSimulator::setSplitOffsets(const QList<int> &offsets)
{
    m_splitOffsets = offsets;
    std::sort(m_splitOffsets.begin(), m_splitOffsets.end());
    m_splitOffsets.erase(std::unique(m_splitOffsets.begin(), m_splitOffsets.end()), m_splitOffsets.end());
}

void ServiceSimulator::setSilent(bool silent)
{
    m_silent = silent;
}

void ServiceSimulator::setRefuse(bool refuse)
{
    m_refuse = refuse;
}

void ServiceSimulator::acceptConnections(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        const int number = ++m_connections;
        if (m_refuse) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            emit connectionAccepted(number);
            continue;
        }
        auto *session = new Session;
        session->setParent(this);
        session->socket = socket;
        socket->setParent(session);
        session->token = newToken();
        session->pause = new QTimer(session);
        session->pause->setSingleShot(true);
        session->pause->setInterval(kPieceDelayMs);
        m_lastToken = session->token;
        m_sessions.append(session);

        connect(socket, &QTcpSocket::readyRead, session, [this, session] { readRequests(session); });
        connect(socket, &QTcpSocket::disconnected, session, [this, session] { dropSession(session); });
        connect(session->pause, &QTimer::timeout, session, [this, session] { writePending(session); });
        emit connectionAccepted(number);
        if (socket->bytesAvailable() > 0)
            readRequests(session);
    }
}

void ServiceSimulator::readRequests(Session *session)
{
    const QByteArray bytes = session->socket->readAll();
    if (session->closing)
        return;
    session->reader.append(bytes);
    HttpRequest request;
    bool more = true;
    while (more && !session->closing) {
        switch (session->reader.next(request)) {
        case HttpRequestReader::Result::Incomplete:
            more = false;
            break;
        case HttpRequestReader::Result::Malformed:
            // The stream cannot be trusted past this point: say so and end the connection.
            session->closing = true;
            if (!m_silent)
                queueReply(session, plainReply("HTTP/1.1 400 Bad Request", "Bad request\r\n", false));
            break;
        case HttpRequestReader::Result::Ready:
            answer(session, request);
            break;
        }
    }
    writePending(session);
}

void ServiceSimulator::answer(Session *session, const HttpRequest &request)
{
    const int number = ++m_requests;
    const std::optional<QString> username = formField(request.body, "username");
    const std::optional<QString> password = formField(request.body, "password");
    const QString localIp = formField(request.body, "localip").value_or(QString()).trimmed();
    m_lastUsername = username.value_or(QString());
    m_lastPassword = password.value_or(QString());
    m_lastLocalIp = localIp;
    m_lastPeer = session->socket->peerAddress();
    const QByteArray cookie = request.header("Cookie");
    m_lastCookie = cookie.isNull() ? QString() : QString::fromLatin1(cookie);

    const bool isLogin = request.method == "POST" && request.target == kLoginPath;
    const bool ok = isLogin && username && password && *username == m_username && *password == m_password;
    emit requestHandled(number, m_lastUsername, ok);
    if (m_silent)
        return;

    if (isLogin) {
        QString address = m_address;
        if (address.isEmpty())
            address = isMarkerSafe(localIp) ? localIp : addressText(session->socket->peerAddress());
        queueReply(session, buildReply(ok, address, session->token));
    } else {
        queueReply(session, plainReply("HTTP/1.1 404 Not Found", "Not found\r\n", true));
    }
    if (m_closeAfter > 0 && ++session->repliesQueued >= m_closeAfter)
        session->closing = true;
}

void ServiceSimulator::queueReply(Session *session, const QByteArray &reply)
{
    qsizetype from = 0;
    for (int cut : std::as_const(m_splitOffsets)) {
        if (cut <= from || cut >= reply.size())
            continue;
        session->queue.append({reply.mid(from, cut - from), true});
        from = cut;
    }
    session->queue.append({reply.mid(from), false});
}

void ServiceSimulator::writePending(Session *session)
{
    while (!session->queue.isEmpty() && !session->pause->isActive()) {
        const Piece piece = session->queue.takeFirst();
        session->socket->write(piece.bytes);
        if (piece.pauseAfter) {
            // Out of the socket's buffer now, so the next piece travels as a segment of its own.
            session->socket->flush();
            session->pause->start();
        }
    }
    if (session->queue.isEmpty() && session->closing)
        session->socket->disconnectFromHost();
}

void ServiceSimulator::dropSession(Session *session)
{
    if (m_sessions.removeOne(session))
        session->deleteLater();
}

QByteArray ServiceSimulator::buildReply(bool ok, const QString &address, const QByteArray &token)
{
    QByteArray page;
    page += "<html>\r\n<head>\r\n<title>Dynamic DNS</title>\r\n</head>\r\n<body>\r\n";
    page += "<h3>Dynamic DNS update</h3>\r\n<p>Account status:</p>\r\n";
    page += "s5555" + address.toLatin1() + (ok ? ":online" : ":offline") + "<br>\r\n";
    page += ok ? "<p>Your address has been recorded.</p>\r\n"
               : "<p>Login refused: the username or password is wrong.</p>\r\n";
    page += "</body>\r\n</html>\r\n";

    QByteArray reply;
    reply += "HTTP/1.1 200 OK\r\n";
    reply += "Server: ddns-sim\r\n";
    reply += "Cache-Control: private\r\n";
    reply += "Set-Cookie: ASPSESSIONID=" + token + "; path=/\r\n";
    reply += "Content-Type: text/html\r\n";
    reply += "Content-Length: " + QByteArray::number(page.size()) + "\r\n";
    reply += "Connection: Keep-Alive\r\n";
    reply += "\r\n";
    reply += page;
    return reply;
}

std::optional<QString> ServiceSimulator::formField(const QByteArray &body, const QByteArray &name)
{
    for (const QByteArray &pair : body.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        const QByteArrayView key = eq < 0 ? QByteArrayView(pair) : QByteArrayView(pair).first(eq);
        if (formDecode(key) != name)
            continue;
        const QByteArray value = eq < 0 ? QByteArray() : formDecode(QByteArrayView(pair).sliced(eq + 1));
        return QString::fromUtf8(value);
    }
    return std::nullopt;
}

std::optional<QList<int>> ServiceSimulator::parseOffsets(const QString &text)
{
    QList<int> offsets;
    if (text.trimmed().isEmpty())
        return offsets;
    for (const QString &part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int offset = part.trimmed().toInt(&ok);
        if (!ok || offset <= 0)
            return std::nullopt;
        offsets.append(offset);
    }
    return offsets;
}

bool ServiceSimulator::isMarkerSafe(const QString &text)
{
    if (text.isEmpty())
        return false;
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
               || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || c == QLatin1Char('.') || c == QLatin1Char('-')
               || c == QLatin1Char('_');
    });
}
