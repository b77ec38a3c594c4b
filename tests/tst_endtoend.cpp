// The whole client, on its real socket, against the simulated update service on 127.0.0.1; and the
// simulator itself, which those tests and the demo rely on.
#include "httprequestreader.h"
#include "servicesimulator.h"
#include "support/testwindow.h"
#include "support/wine.h"

#include <QCheckBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QUrl>

#if defined(Q_OS_WIN)
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
using NativeSocket = SOCKET;
#else
#include <sys/socket.h>
using NativeSocket = int;
#endif

namespace {

constexpr int kWait = 5000;
const QString kHost = QStringLiteral("127.0.0.1");

// A port on 127.0.0.1 where nothing listens (for now).
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QByteArray formBody(const QString &user, const QString &password, const QString &localIp)
{
    return "confirm=ready&isFromClientProgram=true&username=" + QUrl::toPercentEncoding(user) + "&password="
           + QUrl::toPercentEncoding(password) + "&updateDNSStatus=true&localip=" + QUrl::toPercentEncoding(localIp);
}

// A request as the client frames it: the CR LF after the body is sent but not counted.
QByteArray loginRequest(const QByteArray &body)
{
    return "POST /asp/index.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\nCookie: verify=tarn; \r\n\r\n" + body + "\r\n";
}

QByteArray config(const QString &user, const QString &password, bool disabled = false)
{
    // config.dat holds the system's 8-bit text: UTF-8 here, the ANSI code page on Windows.
    return "\r\n" + user.toLocal8Bit() + "\r\n" + password.toLocal8Bit() + (disabled ? "\r\n1\r\n" : "\r\n0\r\n");
}

QImage pictureOf(const QLabel *label)
{
    return label->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage iconFile(const AppDir &dir, const QString &name)
{
    return QImage(dir.filePath(QStringLiteral("icons/") + name)).convertToFormat(QImage::Format_ARGB32);
}

// A bare TCP client for talking to the simulator directly.
struct RawClient {
    explicit RawClient(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            received += socket.readAll();
            ++reads;
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool isOpen() const { return socket.state() == QAbstractSocket::ConnectedState; }

    QTcpSocket socket;
    QByteArray received;
    int reads = 0;
};

// A service that answers every login, and forgets its connection as one restarted while the client
// slept has: reset at once, closed so that the client's next request draws the reset, or reset as
// that request arrives.
class ForgetfulService : public QObject
{
public:
    enum class Forget { Reset, Close, ResetOnRequest };

    ForgetfulService()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                ++connections;
                m_socket = socket;
                m_received.clear();
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            }
        });
    }

    void forget(Forget how)
    {
        if (how == Forget::ResetOnRequest)
            m_resetOnRequest = true;
        else
            drop(how == Forget::Reset);
    }

    QTcpServer server;
    int connections = 0;
    int requests = 0;

private:
    void drop(bool reset)
    {
        QTcpSocket *socket = std::exchange(m_socket, nullptr);
        socket->disconnect(this);
        if (reset) {
            const linger abortive{1, 0};
            setsockopt(static_cast<NativeSocket>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                       reinterpret_cast<const char *>(&abortive), sizeof abortive);
        }
        socket->abort();
        socket->deleteLater();
    }

    void answer(QTcpSocket *socket)
    {
        if (std::exchange(m_resetOnRequest, false)) {
            drop(true);
            return;
        }
        m_received += socket->readAll();
        static const QByteArray start = "POST /asp/index.asp ";
        for (qsizetype at = m_received.indexOf(start); at >= 0; at = m_received.indexOf(start)) {
            m_received.remove(0, at + start.size());
            ++requests;
            socket->write(ServiceSimulator::buildReply(true, kHost, QByteArrayLiteral("token")));
        }
    }

    QTcpSocket *m_socket = nullptr;
    QByteArray m_received;
    bool m_resetOnRequest = false;
};

} // namespace

Q_DECLARE_METATYPE(ForgetfulService::Forget)

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    // The simulator on its own.
    void readerCutsRequestsOutOfAnyStream_data();
    void readerCutsRequestsOutOfAnyStream();
    void readerRejectsWhatItCannotFrame_data();
    void readerRejectsWhatItCannotFrame();
    void formFieldsDecode_data();
    void formFieldsDecode();
    void answersOnOneKeptAliveConnection();
    void markerReportsTheRightAddress_data();
    void markerReportsTheRightAddress();
    void switchesChangeHowItAnswers_data();
    void switchesChangeHowItAnswers();
    void commandLineRunsAndLogsEachRequest();
    void commandLineRejectsBadSwitches_data();
    void commandLineRejectsBadSwitches();

    // The client against it.
    void loginOutcome_data();
    void loginOutcome();
    void staysOnOneConnectionAndReportsOnEveryTick();
    void cookieSetByTheServerComesBack();
    void serverClosingLeadsToResetThenReconnect();
    void refusedPortShowsTheErrorAndRetries();
    void splitReplyStillGivesTheOutcome_data();
    void splitReplyStillGivesTheOutcome();
    void silentServerGivesNoOutcome();
    void disabledServiceNeverConnects();
    void connectionForgottenWhileAsleepIsReopened_data();
    void connectionForgottenWhileAsleepIsReopened();
};

// --- The simulator ----------------------------------------------------------------------------

void TestEndToEnd::readerCutsRequestsOutOfAnyStream_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<int>>("cuts");
    QTest::addColumn<int>("requests");

    const QByteArray one = loginRequest(formBody(QStringLiteral("demo"), QStringLiteral("demo"), kHost));
    const int headEnd = int(one.indexOf("\r\n\r\n"));
    QList<int> everyByte;
    for (int i = 1; i < one.size(); ++i)
        everyByte << i;

    QTest::newRow("whole") << one << QList<int>{} << 1;
    QTest::newRow("byte by byte") << one << everyByte << 1;
    QTest::newRow("inside the request line") << one << QList<int>{3} << 1;
    QTest::newRow("inside the empty line ending the head") << one << QList<int>{headEnd + 1, headEnd + 3} << 1;
    QTest::newRow("inside the body") << one << QList<int>{int(one.size()) - 9} << 1;
    QTest::newRow("two in one piece") << one + one << QList<int>{} << 2;
    QTest::newRow("second starts inside the first piece") << one + one << QList<int>{int(one.size()) + 12} << 2;
    QTest::newRow("cut between body and its trailing CR LF")
        << one + one << QList<int>{int(one.size()) - 2, int(one.size()) - 1} << 2;
    QByteArray bareLf = one;
    bareLf.replace("\r\n", "\n");
    QTest::newRow("bare LF line ends") << bareLf + bareLf << QList<int>{5} << 2;
}

void TestEndToEnd::readerCutsRequestsOutOfAnyStream()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<int>, cuts);
    QFETCH(int, requests);

    HttpRequestReader reader;
    QList<HttpRequest> got;
    cuts << int(stream.size());
    int from = 0;
    for (int cut : std::as_const(cuts)) {
        reader.append(QByteArrayView(stream).sliced(from, cut - from));
        from = cut;
        HttpRequest request;
        HttpRequestReader::Result result;
        while ((result = reader.next(request)) == HttpRequestReader::Result::Ready)
            got << request;
        QCOMPARE(result, HttpRequestReader::Result::Incomplete);
    }
    QCOMPARE(got.size(), requests);
    for (const HttpRequest &r : std::as_const(got)) {
        QCOMPARE(r.method, QByteArray("POST"));
        QCOMPARE(r.target, QByteArray("/asp/index.asp"));
        QCOMPARE(r.header("cookie"), QByteArray("verify=tarn;"));
        QCOMPARE(r.body, formBody(QStringLiteral("demo"), QStringLiteral("demo"), kHost));
    }
    // Nothing left behind, not even the CR LF that followed the last body.
    QCOMPARE(reader.buffered(), qsizetype(0));
}

void TestEndToEnd::readerRejectsWhatItCannotFrame_data()
{
    QTest::addColumn<QByteArray>("stream");
    const QByteArray head = "POST /asp/index.asp HTTP/1.1\r\nHost: x\r\n";
    QTest::newRow("no version") << QByteArray("POST /asp/index.asp\r\n\r\n");
    QTest::newRow("not HTTP") << QByteArray("HELLO there friend\r\n\r\n");
    QTest::newRow("header without colon") << head + "Nonsense\r\n\r\n";
    QTest::newRow("length not a number") << head + "Content-Length: 12a\r\n\r\n";
    QTest::newRow("negative length") << head + "Content-Length: -1\r\n\r\n";
    QTest::newRow("two different lengths") << head + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd";
    QTest::newRow("body too large") << head + "Content-Length: " + QByteArray::number(HttpRequestReader::kMaxBody + 1)
                                           + "\r\n\r\n";
    QTest::newRow("chunked body") << head + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n";
    QTest::newRow("head without end") << head + QByteArray(HttpRequestReader::kMaxHead, 'a');
}

void TestEndToEnd::readerRejectsWhatItCannotFrame()
{
    QFETCH(QByteArray, stream);
    HttpRequestReader reader;
    reader.append(stream);
    HttpRequest request;
    QCOMPARE(reader.next(request), HttpRequestReader::Result::Malformed);
}

void TestEndToEnd::formFieldsDecode_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected"); // the username field; "<absent>" when there is none

    QTest::newRow("plain") << QByteArray("a=1&username=demo&b=2") << QStringLiteral("demo");
    QTest::newRow("plus is a space") << QByteArray("username=john+doe") << QStringLiteral("john doe");
    QTest::newRow("encoded form characters") << QByteArray("username=a%26b%3Dc%2Bd%25") << QStringLiteral("a&b=c+d%");
    QTest::newRow("lower-case hex") << QByteArray("username=%2f%3a") << QStringLiteral("/:");
    QTest::newRow("UTF-8 bytes") << QByteArray("username=J%C3%B6rg") << QStringLiteral("J\u00f6rg");
    QTest::newRow("stray percent kept") << QByteArray("username=50%&x=%zz") << QStringLiteral("50%");
    QTest::newRow("percent at the end") << QByteArray("username=ab%4") << QStringLiteral("ab%4");
    QTest::newRow("empty value") << QByteArray("username=&password=x") << QString(QLatin1String(""));
    QTest::newRow("no equals sign") << QByteArray("username&password=x") << QString(QLatin1String(""));
    QTest::newRow("first occurrence counts") << QByteArray("username=one&username=two") << QStringLiteral("one");
    QTest::newRow("encoded name") << QByteArray("user%6Eame=x") << QStringLiteral("x");
    QTest::newRow("absent") << QByteArray("user=demo&usernames=x") << QStringLiteral("<absent>");
}

void TestEndToEnd::formFieldsDecode()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    const std::optional<QString> value = ServiceSimulator::formField(body, "username");
    QCOMPARE(value.value_or(QStringLiteral("<absent>")), expected);
}

void TestEndToEnd::answersOnOneKeptAliveConnection()
{
    ServiceSimulator sim;
    QVERIFY(sim.listen());
    RawClient client(sim.port());
    QVERIFY(client.socket.waitForConnected(kWait));

    const QByteArray good = loginRequest(formBody(QStringLiteral("demo"), QStringLiteral("demo"), kHost));
    const QByteArray bad = loginRequest(formBody(QStringLiteral("demo"), QStringLiteral("nope"), kHost));
    // Two requests in one segment, then one cut in two with a pause between the pieces.
    client.socket.write(good + bad);
    client.socket.flush();
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 2, kWait);
    client.socket.write(good.left(40));
    client.socket.flush();
    QTest::qWait(30);
    client.socket.write(good.mid(40));

    const QByteArray token = sim.lastToken();
    QCOMPARE(token.size(), ServiceSimulator::kTokenLength);
    const QByteArray expected = ServiceSimulator::buildReply(true, kHost, token)
                                + ServiceSimulator::buildReply(false, kHost, token)
                                + ServiceSimulator::buildReply(true, kHost, token);
    QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), expected.size(), kWait);
    QCOMPARE(client.received, expected);
    QCOMPARE(sim.requestCount(), 3);
    QCOMPARE(sim.connectionCount(), 1);
    QVERIFY(client.isOpen());

    // A new connection is a new session.
    RawClient second(sim.port());
    QTRY_COMPARE_WITH_TIMEOUT(sim.connectionCount(), 2, kWait);
    QVERIFY(sim.lastToken() != token);
}

void TestEndToEnd::markerReportsTheRightAddress_data()
{
    QTest::addColumn<QString>("configured");
    QTest::addColumn<QString>("localIp");
    QTest::addColumn<QString>("reported");

    QTest::newRow("the request's localip") << QString() << QStringLiteral(" 127.0.0.2 ") << QStringLiteral("127.0.0.2");
    QTest::newRow("a set address wins") << QStringLiteral("127.0.0.3") << QStringLiteral("127.0.0.2")
                                        << QStringLiteral("127.0.0.3");
    QTest::newRow("no localip: the peer") << QString() << QString() << kHost;
    // Text that would end the marker's address or status early is never echoed into it.
    QTest::newRow("localip with a colon") << QString() << QStringLiteral("1:2") << kHost;
    QTest::newRow("localip with markup") << QString() << QStringLiteral("1<br>online") << kHost;
    QTest::newRow("localip with a line end") << QString() << QStringLiteral("1\r\nSet-Cookie: x=y") << kHost;
}

void TestEndToEnd::markerReportsTheRightAddress()
{
    QFETCH(QString, configured);
    QFETCH(QString, localIp);
    QFETCH(QString, reported);

    ServiceSimulator sim;
    sim.setAddress(configured);
    QVERIFY(sim.listen());
    RawClient client(sim.port());
    QVERIFY(client.socket.waitForConnected(kWait));
    QByteArray body = formBody(QStringLiteral("demo"), QStringLiteral("demo"), localIp);
    if (localIp.isNull())
        body.truncate(body.indexOf("&localip="));
    client.socket.write(loginRequest(body));
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 1, kWait);
    const QByteArray expected = ServiceSimulator::buildReply(true, reported, sim.lastToken());
    QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), expected.size(), kWait);
    QCOMPARE(client.received, expected);
    QCOMPARE(sim.lastLocalIp(), localIp.trimmed());
}

void TestEndToEnd::switchesChangeHowItAnswers_data()
{
    QTest::addColumn<int>("closeAfter");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<QList<int>>("split");
    QTest::addColumn<int>("requests"); // the simulator counts
    QTest::addColumn<int>("replies");  // the client receives
    QTest::addColumn<bool>("closed");  // the simulator ends the connection

    const QList<int> none;
    QTest::newRow("plain") << 0 << false << false << none << 3 << 3 << false;
    QTest::newRow("close after one") << 1 << false << false << none << 1 << 1 << true;
    QTest::newRow("close after two") << 2 << false << false << none << 2 << 2 << true;
    QTest::newRow("silent") << 0 << true << false << none << 3 << 0 << false;
    QTest::newRow("refuse") << 0 << false << true << none << 0 << 0 << true;
    QTest::newRow("split") << 0 << false << false << QList<int>{5, 77, 78, 300, 100000} << 3 << 3 << false;
    QTest::newRow("split, close after one") << 1 << false << false << QList<int>{10, 200} << 1 << 1 << true;
}

void TestEndToEnd::switchesChangeHowItAnswers()
{
    QFETCH(int, closeAfter);
    QFETCH(bool, silent);
    QFETCH(bool, refuse);
    QFETCH(QList<int>, split);
    QFETCH(int, requests);
    QFETCH(int, replies);
    QFETCH(bool, closed);

    ServiceSimulator sim;
    sim.setCloseAfter(closeAfter);
    sim.setSilent(silent);
    sim.setRefuse(refuse);
    sim.setSplitOffsets(split);
    QVERIFY(sim.listen());
    RawClient client(sim.port());
    QVERIFY(client.socket.waitForConnected(kWait));
    QTRY_COMPARE_WITH_TIMEOUT(sim.connectionCount(), 1, kWait);
    const QByteArray request = loginRequest(formBody(QStringLiteral("demo"), QStringLiteral("demo"), kHost));
    client.socket.write(request + request + request);

    const QByteArray reply = ServiceSimulator::buildReply(true, kHost, sim.lastToken());
    if (closed)
        QTRY_VERIFY_WITH_TIMEOUT(!client.isOpen(), kWait);
    else
        QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), requests, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), replies * reply.size(), kWait);
    // Nothing more follows.
    QTest::qWait(100);
    QCOMPARE(sim.requestCount(), requests);
    QCOMPARE(client.received, reply.repeated(replies));
    QCOMPARE(client.isOpen(), !closed);
    QCOMPARE(sim.connectionCount(), 1);
    if (!split.isEmpty())
        QVERIFY2(client.reads > replies, "a split reply arrives in several reads");
}

void TestEndToEnd::commandLineRunsAndLogsEachRequest()
{
    QProcess sim;
    sim.start(QStringLiteral(DDNS_SIM_PATH),
              {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--user"), QStringLiteral("alice"),
               QStringLiteral("--password"), QStringLiteral("s3 cr&t"), QStringLiteral("--address"),
               QStringLiteral("127.0.0.3"), QStringLiteral("--close-after"), QStringLiteral("2")});
    QVERIFY(sim.waitForStarted(kWait));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), kWait);
    const QByteArray first = sim.readLine().trimmed();
    QVERIFY2(first.startsWith("listening on 127.0.0.1:"), first.constData());
    const auto port = static_cast<quint16>(first.mid(first.lastIndexOf(':') + 1).toUInt());
    QVERIFY(port != 0);

    RawClient client(port);
    QVERIFY(client.socket.waitForConnected(kWait));
    client.socket.write(loginRequest(formBody(QStringLiteral("alice"), QStringLiteral("s3 cr&t"), kHost)));
    client.socket.write(loginRequest(formBody(QStringLiteral("a\nb c"), QStringLiteral("x"), kHost)));
    QTRY_VERIFY_WITH_TIMEOUT(!client.isOpen(), kWait);
    QVERIFY(client.received.contains("s5555127.0.0.3:online<br>"));
    QVERIFY(client.received.contains("s5555127.0.0.3:offline<br>"));

    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += sim.readAllStandardOutput()).count('\n') >= 2, kWait);
    // A user name from the network cannot break the one-line-per-request log. On Windows the
    // program's standard output is a text stream: its lines end in CR LF.
    QByteArray expected("request 1 user=alice ok from 127.0.0.1 localip=127.0.0.1\n"
                        "request 2 user=a%0Ab%20c fail from 127.0.0.1 localip=127.0.0.1\n");
#if defined(Q_OS_WIN)
    expected.replace("\n", "\r\n");
#endif
    QCOMPARE(log, expected);

#if defined(Q_OS_WIN)
    // Windows has no request to end a program without a window: terminate() posts WM_CLOSE, which a
    // console program never receives.
    sim.kill();
    QVERIFY(sim.waitForFinished(kWait));
#else
    sim.terminate();
    QVERIFY(sim.waitForFinished(kWait));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
#endif
}

void TestEndToEnd::commandLineRejectsBadSwitches_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("split not numbers") << QStringList{QStringLiteral("--split"), QStringLiteral("3,x")};
    QTest::newRow("split offset zero") << QStringList{QStringLiteral("--split"), QStringLiteral("0,4")};
    QTest::newRow("port too large") << QStringList{QStringLiteral("--port"), QStringLiteral("70000")};
    QTest::newRow("negative close-after") << QStringList{QStringLiteral("--close-after"), QStringLiteral("-1")};
    QTest::newRow("address with a colon") << QStringList{QStringLiteral("--address"), QStringLiteral("1:2")};
    QTest::newRow("unknown switch") << QStringList{QStringLiteral("--loud")};
    QTest::newRow("stray argument") << QStringList{QStringLiteral("extra")};
}

void TestEndToEnd::commandLineRejectsBadSwitches()
{
    QFETCH(QStringList, arguments);
    QProcess sim;
    sim.start(QStringLiteral(DDNS_SIM_PATH), QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    QVERIFY(sim.waitForFinished(kWait));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QVERIFY(sim.exitCode() != 0);
    QVERIFY(!sim.readAllStandardOutput().contains("listening"));
    QVERIFY(!sim.readAllStandardError().isEmpty());
}

// --- The client against the simulator ---------------------------------------------------------

void TestEndToEnd::loginOutcome_data()
{
    QTest::addColumn<QString>("serverPassword");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("online");

    const QString demo = QStringLiteral("demo");
    QTest::newRow("good account") << demo << demo << demo << true;
    QTest::newRow("wrong password") << demo << demo << QStringLiteral("wrong") << false;
    QTest::newRow("unknown user") << demo << QStringLiteral("nobody") << demo << false;
    QTest::newRow("spaces around the account are not sent")
        << demo << QStringLiteral("  demo ") << QStringLiteral(" demo  ") << true;
    // Characters that would otherwise corrupt the form reach the server as typed.
    QTest::newRow("form characters in the password")
        << QStringLiteral("a&b=c+d%e f") << demo << QStringLiteral("a&b=c+d%e f") << true;
    QTest::newRow("non-ASCII password") << QStringLiteral("p\u00e4ss\u00f6rd") << demo
                                        << QStringLiteral("p\u00e4ss\u00f6rd") << true;
}

void TestEndToEnd::loginOutcome()
{
    QFETCH(QString, serverPassword);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, online);

    ServiceSimulator sim;
    sim.setAccount(QStringLiteral("demo"), serverPassword);
    // Not the client's own address, so that lblMyIP shows what the service reported.
    sim.setAddress(QStringLiteral("127.0.0.3"));
    QVERIFY(sim.listen());
    LiveWindow w(sim.port(), config(user, password));
    w->load();

    const QString outcome = online ? QStringLiteral("Connected") : QStringLiteral("Disconnect");
    QTRY_COMPARE_WITH_TIMEOUT(w.caption(), outcome, kWait);
    QVERIFY(w.healthy());
    QCOMPARE(sim.lastUsername(), user.trimmed());
    QCOMPARE(sim.lastPassword(), password.trimmed());
    QCOMPARE(sim.lastLocalIp(), kHost);
    QCOMPARE(w->lblMyIP->text(), QStringLiteral("127.0.0.3"));
    QCOMPARE(w->lblStatus->text(), QStringLiteral("Connected to 127.0.0.1"));
    QVERIFY(w->cmdConnect->isEnabled());
    if (online) {
        QCOMPARE(pictureOf(w->imgStatus), iconFile(w.dir, QStringLiteral("icon_online.gif")));
        QCOMPARE(w->lblError->text(), QStringLiteral("-"));
        QCOMPARE(w->lblMessage->text(), QString());
    } else {
        QCOMPARE(pictureOf(w->imgStatus), iconFile(w.dir, QStringLiteral("icon_offline.gif")));
        QCOMPARE(w->lblError->text(), QStringLiteral("Login Failed"));
        QCOMPARE(w->lblMessage->text(), QStringLiteral("Username or password may be incorrect."));
    }
}

void TestEndToEnd::staysOnOneConnectionAndReportsOnEveryTick()
{
    ServiceSimulator sim;
    QVERIFY(sim.listen());
    LiveWindow w(sim.port(), config(QStringLiteral("demo"), QStringLiteral("demo")));
    w->load();
    // The connect event sends the first request at once.
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 1, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(w.caption(), QStringLiteral("Connected"), kWait);
    QCOMPARE(w->lblMyIP->text(), kHost);

    for (int n = 2; n <= 4; ++n) {
        w.tick();
        QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), n, kWait);
    }
    QTest::qWait(50);
    QCOMPARE(sim.requestCount(), 4);
    QCOMPARE(sim.connectionCount(), 1);
    QCOMPARE(w.caption(), QStringLiteral("Connected"));
    QCOMPARE(w->lblStatus->text(), QStringLiteral("Connected to 127.0.0.1"));
    QVERIFY(w.healthy());
}

void TestEndToEnd::cookieSetByTheServerComesBack()
{
    ServiceSimulator sim;
    QVERIFY(sim.listen());
    LiveWindow w(sim.port(), config(QStringLiteral("demo"), QStringLiteral("demo")));
    w->load();
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 1, kWait);
    // Nothing captured yet: the fixed part alone.
    QCOMPARE(sim.lastCookie(), QStringLiteral("verify=tarn;"));
    QTRY_COMPARE_WITH_TIMEOUT(w.caption(), QStringLiteral("Connected"), kWait);

    w.tick();
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 2, kWait);
    QCOMPARE(sim.lastCookie(), QStringLiteral("verify=tarn; ASPSESSIONID=") + QString::fromLatin1(sim.lastToken()));
}

void TestEndToEnd::serverClosingLeadsToResetThenReconnect()
{
    ServiceSimulator sim;
    sim.setCloseAfter(1);
    QVERIFY(sim.listen());
    LiveWindow w(sim.port(), config(QStringLiteral("demo"), QStringLiteral("demo")));
    w->load();
    QTRY_COMPARE_WITH_TIMEOUT(w.caption(), QStringLiteral("Connected"), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(w.socket.State() != Winsock::sckConnected, kWait);

    // First tick: the caption is not "Connect", so close and reset; no new connection yet.
    w.tick();
    QCOMPARE(w.caption(), QStringLiteral("Connect"));
    QVERIFY(w->cmdConnect->isEnabled());
    QCOMPARE(w->lblStatus->text(), QStringLiteral("Connected to 127.0.0.1"));
    QTest::qWait(50);
    QCOMPARE(sim.connectionCount(), 1);
    QCOMPARE(sim.requestCount(), 1);

    // Second tick: a new connection, and the login goes through again.
    w.tick();
    QTRY_COMPARE_WITH_TIMEOUT(sim.connectionCount(), 2, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 2, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(w.caption(), QStringLiteral("Connected"), kWait);
    QVERIFY(w.healthy());
}

void TestEndToEnd::refusedPortShowsTheErrorAndRetries()
{
    const quint16 port = closedPort();
    LiveWindow w(port, config(QStringLiteral("demo"), QStringLiteral("demo")));
    QSignalSpy errors(&w.socket, &Winsock::Error);
    w->load();
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, kWait);
    const QString description = errors.first().at(1).toString();
    QVERIFY(!description.isEmpty());
    QCOMPARE(w->lblError->text(), description);
    QCOMPARE(w.caption(), QStringLiteral("Connect"));
    QVERIFY(w->cmdConnect->isEnabled());

    // Each tick tries again.
    w.tick();
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 2, kWait);
    QCOMPARE(w->lblError->text(), description);

    // Once the service is up, the next tick gets through.
    ServiceSimulator sim;
    if (!sim.listen(port))
        QSKIP("the probed port was taken meanwhile");
    w.tick();
    QTRY_COMPARE_WITH_TIMEOUT(w.caption(), QStringLiteral("Connected"), kWait);
    QCOMPARE(sim.connectionCount(), 1);
    QCOMPARE(w->lblError->text(), QStringLiteral("-"));
    QCOMPARE(errors.count(), 2);
    QVERIFY(w.healthy());
}

void TestEndToEnd::splitReplyStillGivesTheOutcome_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QList<int>>("offsets");

    // Offsets within the reply as it will be sent; the token is random but of fixed length.
    for (bool ok : {true, false}) {
        const QByteArray sample = ServiceSimulator::buildReply(ok, QStringLiteral("127.0.0.3"),
                                                               QByteArray(ServiceSimulator::kTokenLength, 'X'));
        const int page = int(sample.indexOf("<html>"));
        const int marker = int(sample.indexOf("s5555"));
        const int colon = int(sample.indexOf(':', marker));
        const int cookie = int(sample.indexOf("Set-Cookie"));
        const int token = int(sample.indexOf("ASPSESSIONID="));
        const int cookieEnd = int(sample.indexOf("\r\n", cookie));
        const char *outcome = ok ? "online" : "offline";

        QTest::addRow("%s, inside <html>", outcome) << ok << QList<int>{page + 3};
        QTest::addRow("%s, inside s5555", outcome) << ok << QList<int>{marker + 2};
        QTest::addRow("%s, inside the address", outcome) << ok << QList<int>{marker + 8};
        QTest::addRow("%s, inside the status", outcome) << ok << QList<int>{colon + 3};
        QTest::addRow("%s, inside the Set-Cookie line", outcome) << ok << QList<int>{cookie + 5, token + 15};
        QTest::addRow("%s, between CR and LF of the cookie", outcome) << ok << QList<int>{cookieEnd + 1};
        QTest::addRow("%s, all at once", outcome)
            << ok << QList<int>{cookie + 4, token + 3, page + 1, page + 5, marker + 4, colon, colon + 1};
    }
}

void TestEndToEnd::splitReplyStillGivesTheOutcome()
{
    QFETCH(bool, ok);
    QFETCH(QList<int>, offsets);

    ServiceSimulator sim;
    sim.setAccount(QStringLiteral("demo"), ok ? QStringLiteral("demo") : QStringLiteral("other"));
    sim.setAddress(QStringLiteral("127.0.0.3"));
    sim.setSplitOffsets(offsets);
    QVERIFY(sim.listen());
    LiveWindow w(sim.port(), config(QStringLiteral("demo"), QStringLiteral("demo")));
    w->load();

    QTRY_COMPARE_WITH_TIMEOUT(w.caption(), ok ? QStringLiteral("Connected") : QStringLiteral("Disconnect"), kWait);
    QCOMPARE(w->lblMyIP->text(), QStringLiteral("127.0.0.3"));
    // Once every piece is in, the outcome's error text still stands: every cut lies before the end
    // of the status text, so no later data arrival clears it.
    QTest::qWait(static_cast<int>(ServiceSimulator::kPieceDelayMs * (offsets.size() + 2)));
    QCOMPARE(w->lblError->text(), ok ? QStringLiteral("-") : QStringLiteral("Login Failed"));

    w.tick();
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 2, kWait);
    QCOMPARE(sim.lastCookie(), QStringLiteral("verify=tarn; ASPSESSIONID=") + QString::fromLatin1(sim.lastToken()));
    QVERIFY(w.healthy());
}

void TestEndToEnd::silentServerGivesNoOutcome()
{
    ServiceSimulator sim;
    sim.setSilent(true);
    QVERIFY(sim.listen());
    LiveWindow w(sim.port(), config(QStringLiteral("demo"), QStringLiteral("demo")));
    w->load();
    // The connection is made, so the first request goes out at once.
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), 1, kWait);
    const QString message = w->lblMessage->text();
    const QImage picture = pictureOf(w->imgStatus);

    for (int n = 2; n <= 4; ++n) {
        w.tick();
        QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(), n, kWait);
    }
    QTest::qWait(50);
    QCOMPARE(sim.connectionCount(), 1);
    QCOMPARE(w.socket.State(), qint16(Winsock::sckConnected));
    QCOMPARE(w.caption(), QStringLiteral("Connect"));
    QCOMPARE(w->lblStatus->text(), QStringLiteral("Connected to 127.0.0.1"));
    QCOMPARE(w->lblError->text(), QStringLiteral("-"));
    QCOMPARE(w->lblMessage->text(), message);
    QCOMPARE(pictureOf(w->imgStatus), picture);
    QVERIFY(w.healthy());
}

void TestEndToEnd::disabledServiceNeverConnects()
{
    ServiceSimulator sim;
    QVERIFY(sim.listen());
    LiveWindow w(sim.port(), config(QStringLiteral("demo"), QStringLiteral("demo"), true));
    w->load();
    QVERIFY(w->chkDisableService->isChecked());
    w.tick();
    w.tick();
    QTest::qWait(100);
    QCOMPARE(sim.connectionCount(), 0);
    QCOMPARE(w->lblStatus->text(), QStringLiteral("Disabled"));
    QCOMPARE(w.caption(), QStringLiteral("Connect"));
    QCOMPARE(pictureOf(w->imgStatus), iconFile(w.dir, QStringLiteral("icon_disabled.gif")));
    QVERIFY(w.healthy());
}

void TestEndToEnd::connectionForgottenWhileAsleepIsReopened_data()
{
    QTest::addColumn<ForgetfulService::Forget>("how");
    QTest::newRow("reset while asleep") << ForgetfulService::Forget::Reset;
    QTest::newRow("closed while asleep, reset by the request") << ForgetfulService::Forget::Close;
    QTest::newRow("reset in answer to the request") << ForgetfulService::Forget::ResetOnRequest;
}

void TestEndToEnd::connectionForgottenWhileAsleepIsReopened()
{
    QFETCH(ForgetfulService::Forget, how);
    ForgetfulService service;
    QVERIFY(service.server.listen(QHostAddress::LocalHost));
    LiveWindow w(service.server.serverPort(), config(QStringLiteral("demo"), QStringLiteral("demo")));
    w->load();
    QTRY_COMPARE_WITH_TIMEOUT(w.caption(), QStringLiteral("Connected"), kWait);
    QCOMPARE(service.requests, 1);

    // Asleep: the client's event loop does not run while the service forgets the connection. On
    // waking, the tick finds the connection as it left it and sends its request there.
    service.forget(how);
    QThread::msleep(100);
    QCOMPARE(w.socket.State(), qint16(Winsock::sckConnected));
    w.tick();
    const bool seen = QTest::qWaitFor([&] { return w.socket.State() != Winsock::sckConnected; }, kWait);
    if (underWine() && how == ForgetfulService::Forget::ResetOnRequest)
        QEXPECT_FAIL(
            "",
            "Wine (8 and 10) never reports a reset that answers a request: no FD_CLOSE, FD_READ or FD_WRITE follows",
            Continue);
    QVERIFY(seen);

    // The way back: the next tick resets the caption, the one after connects and logs in. Where the
    // end is never reported, the next request stays unsent, and the third tick that finds it so gives
    // the connection up and opens a new one.
    for (int tick = 0; tick < (seen ? 2 : 4); ++tick)
        w.tick();
    QTRY_COMPARE_WITH_TIMEOUT(service.connections, 2, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(service.requests, 2, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(w.caption(), QStringLiteral("Connected"), kWait);
    QVERIFY(w.healthy());
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
