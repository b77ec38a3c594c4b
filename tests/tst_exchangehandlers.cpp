// The update exchange through the window: the request it sends from what it holds and what a
// failing socket does to that; the replies as it shows them, however delivered, read in 255-byte
// chunks, echoed in Text1 while that is shown, and within bounds under a flood.
#include "exchange/request.h"
#include "support/replies.h"
#include "support/testwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const QString kHost = QStringLiteral("ddns.test.invalid");
const QString kHint = QStringLiteral("Username or password may be incorrect.");

// A window whose socket is connected to the test host, ready to send.
struct ConnectedWindow : TestWindow {
    ConnectedWindow()
    {
        socket.state = Winsock::sckConnected;
        socket.remoteHost = kHost;
        socket.remotePort = 80;
    }

    QString send()
    {
        const qsizetype before = socket.sent.size();
        window->SendUpdateRequest();
        return socket.sent.size() > before ? socket.sent.last() : QString();
    }
};

// The request of an empty account, with no cookie yet.
QString requestFrom(const QString &localIP)
{
    return buildUpdateRequest(QString(), QString(), localIP, kHost, QString());
}

void resetShownOutcome(TestWindow &t)
{
    t->lblMyIP->setText(QStringLiteral("N/A"));
    t->lblMessage->setText(QStringLiteral("hint"));
    t->cmdConnect->setText(QStringLiteral("Connect"));
    t->strCookie.clear();
}

void verifySucceeded(TestWindow &t, const QString &address)
{
    QCOMPARE(t->lblError->text(), QStringLiteral("-"));
    QCOMPARE(t->lblMessage->text(), QString());
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connected"));
    QCOMPARE(t->lblMyIP->text(), address);
    QCOMPARE(t->intLoginPhase, qint16(0));
}

} // namespace

class TestExchangeHandlers : public QObject
{
    Q_OBJECT
private slots:
    // The request.
    void requestTakesWhatTheWindowHolds();
    void localAddressShownAndSent();
    void failingLocalIPKeepsThePreviousAddress();
    void failingSendIsAbsorbed();

    // The replies.
    void sameOutcomeHoweverDelivered();
    void pageStartShownUntilTheNextDelivery_data();
    void pageStartShownUntilTheNextDelivery();
    void outcomeShown_data();
    void outcomeShown();
    void addressShownAsPlainText();
    void cookieKeptForTheNextRequest();
    void readsOneChunkPer255Bytes_data();
    void readsOneChunkPer255Bytes();
    void echoesOnlyWhileText1IsShown_data();
    void echoesOnlyWhileText1IsShown();
    void floodThroughTheWindowStaysBounded();
};

void TestExchangeHandlers::requestTakesWhatTheWindowHolds()
{
    ConnectedWindow t;
    t.socket.remotePort = 8080;
    t.socket.localIP = QStringLiteral("10.0.0.2");
    t->txtUsername->setText(QStringLiteral("alice"));
    t->txtPassword->setText(QStringLiteral("secret"));
    const QString expected = buildUpdateRequest(QStringLiteral("alice"), QStringLiteral("secret"),
                                                QStringLiteral("10.0.0.2"), kHost, QString());
    const QString sent = t.send();
    QCOMPARE(sent, expected);
    // The host goes out without its port.
    QVERIFY(!sent.contains(QStringLiteral("8080")));
    // Each call builds a fresh, complete request; nothing of the first is carried into the second.
    QCOMPARE(t.send(), expected);
    QCOMPARE(t.socket.calls.count(QStringLiteral("SendData")), 2);

    t->strCookie = QStringLiteral("ASPSESSIONIDQS=KDJFHEUR");
    QCOMPARE(t.send(), buildUpdateRequest(QStringLiteral("alice"), QStringLiteral("secret"), QStringLiteral("10.0.0.2"),
                                          kHost, QStringLiteral("ASPSESSIONIDQS=KDJFHEUR")));
}

void TestExchangeHandlers::localAddressShownAndSent()
{
    ConnectedWindow t;
    t.socket.localIP = QStringLiteral(" 10.0.0.2 ");
    // Handed on as read: the request trims it where it must.
    QCOMPARE(t.send(), requestFrom(QStringLiteral(" 10.0.0.2 ")));
    QCOMPARE(t->strLocalIP, QStringLiteral(" 10.0.0.2 "));
    QCOMPARE(t->lblMyIP->text(), QStringLiteral(" 10.0.0.2 "));
}

void TestExchangeHandlers::failingLocalIPKeepsThePreviousAddress()
{
    ConnectedWindow t;
    // Before any successful read the address is empty, and that is what goes out.
    t.socket.failLocalIP = true;
    QCOMPARE(t.send(), requestFrom(QString()));
    QCOMPARE(t->lblMyIP->text(), QString());

    t.socket.failLocalIP = false;
    t.socket.localIP = QStringLiteral("10.1.1.1");
    t.send();
    t.socket.failLocalIP = true;
    t.socket.localIP = QStringLiteral("10.2.2.2");
    QCOMPARE(t.send(), requestFrom(QStringLiteral("10.1.1.1")));
    QCOMPARE(t->strLocalIP, QStringLiteral("10.1.1.1"));
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("10.1.1.1"));
}

void TestExchangeHandlers::failingSendIsAbsorbed()
{
    ConnectedWindow t;
    t.socket.state = Winsock::sckClosing;
    t.socket.localIP = QStringLiteral("10.3.3.3");
    t->dispatch([&] { t->SendUpdateRequest(); });
    QCOMPARE(t.socket.calls.count(QStringLiteral("SendData")), 1);
    QVERIFY(t.socket.sent.isEmpty());
    QVERIFY(!t.services.ended);
    QVERIFY(t.services.boxes.isEmpty());
    // The steps before the send still took effect.
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("10.3.3.3"));
}

void TestExchangeHandlers::sameOutcomeHoweverDelivered()
{
    TestWindow t;
    t.socket.deliver(kReply);
    verifySucceeded(t, QStringLiteral("203.0.113.7"));
    QCOMPARE(t->strCookie, QStringLiteral("ASPSESSIONIDQQ=FKLMNOPQ"));

    for (qsizetype cut = 1; cut < kReply.size(); ++cut) {
        resetShownOutcome(t);
        t.socket.deliver(kReply.left(cut));
        t.socket.deliver(kReply.mid(cut));
        verifySucceeded(t, QStringLiteral("203.0.113.7"));
        QCOMPARE(t->strCookie, QStringLiteral("ASPSESSIONIDQQ=FKLMNOPQ"));
    }

    resetShownOutcome(t);
    for (const char byte : kReply)
        t.socket.deliver(QByteArray(1, byte));
    verifySucceeded(t, QStringLiteral("203.0.113.7"));
    QCOMPARE(t->strCookie, QStringLiteral("ASPSESSIONIDQQ=FKLMNOPQ"));
    QVERIFY(!t.services.ended);
}

void TestExchangeHandlers::pageStartShownUntilTheNextDelivery_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("recognised");

    QTest::newRow("page start") << QByteArray("<html>") << true;
    QTest::newRow("no page start") << QByteArray("<HTML>") << false;
}

void TestExchangeHandlers::pageStartShownUntilTheNextDelivery()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, recognised);

    TestWindow t;
    t.socket.deliver("HTTP/1.1 200 OK\r\n\r\n" + text + "\r\n");
    QCOMPARE(t->intLoginPhase, qint16(recognised ? 1 : 0));
    QCOMPARE(t->lblError->text(), recognised ? QStringLiteral("Login Processing...") : QStringLiteral("-"));
    // The next delivery clears the line again, whatever it holds.
    t.socket.deliver("\r\n");
    QCOMPARE(t->lblError->text(), QStringLiteral("-"));
}

void TestExchangeHandlers::outcomeShown_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<bool>("online");

    QTest::newRow("online") << QByteArray("online<br>") << true;
    QTest::newRow("offline") << QByteArray("offline<br>") << false;
}

void TestExchangeHandlers::outcomeShown()
{
    QFETCH(QByteArray, status);
    QFETCH(bool, online);

    TestWindow t;
    t->lblMessage->setText(QStringLiteral("hint"));
    t.socket.deliver("HTTP/1.1 200 OK\r\n\r\n<html>\r\n<body>s5555203.0.113.7:" + status + "\r\n</body></html>\r\n");
    QCOMPARE(t->intLoginPhase, qint16(0));
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("203.0.113.7"));
    QCOMPARE(t->lblError->text(), online ? QStringLiteral("-") : QStringLiteral("Login Failed"));
    QCOMPARE(t->lblMessage->text(), online ? QString() : kHint);
    QCOMPARE(t->cmdConnect->text(), online ? QStringLiteral("Connected") : QStringLiteral("Disconnect"));
}

void TestExchangeHandlers::addressShownAsPlainText()
{
    TestWindow t;
    t.socket.deliver("<html>s5555 <b>203.0.113.7</b> :online<br>");
    QCOMPARE(t->lblMyIP->text(), QStringLiteral(" <b>203.0.113.7</b> "));
    QCOMPARE(t->lblMyIP->textFormat(), Qt::PlainText);
}

void TestExchangeHandlers::cookieKeptForTheNextRequest()
{
    TestWindow t;
    t->strCookie = QStringLiteral("old=1");
    t.socket.deliver("HTTP/1.1 200 OK\r\nSet-Cookie: ASPSESSIONIDQS=KDJFHEUR; path=/\r\n\r\n");
    QCOMPARE(t->strCookie, QStringLiteral("ASPSESSIONIDQS=KDJFHEUR"));
}

void TestExchangeHandlers::readsOneChunkPer255Bytes_data()
{
    QTest::addColumn<qint32>("bytesTotal");
    QTest::addColumn<int>("reads");

    QTest::newRow("0") << 0 << 0;
    QTest::newRow("-1") << -1 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("255") << 255 << 1;
    QTest::newRow("256") << 256 << 2;
    QTest::newRow("510") << 510 << 2;
    QTest::newRow("511") << 511 << 3;
}

void TestExchangeHandlers::readsOneChunkPer255Bytes()
{
    QFETCH(qint32, bytesTotal);
    QFETCH(int, reads);

    TestWindow t;
    t->lblError->setText(QStringLiteral("Login Failed"));
    t.socket.incoming = QByteArray(1000, 'x');
    t->Winsock1_DataArrival(bytesTotal);
    QCOMPARE(t.socket.chunksRead.size(), reads);
    for (const QString &chunk : std::as_const(t.socket.chunksRead))
        QCOMPARE(chunk.size(), 255);
    QCOMPARE(t->lblError->text(), QStringLiteral("-"));
}

void TestExchangeHandlers::echoesOnlyWhileText1IsShown_data()
{
    QTest::addColumn<bool>("windowShown");
    QTest::addColumn<bool>("text1Shown");

    QTest::newRow("window in the tray, Text1 hidden") << false << false;
    QTest::newRow("window shown, Text1 hidden") << true << false;
    QTest::newRow("window in the tray, Text1 shown") << false << true;
    QTest::newRow("window shown, Text1 shown") << true << true;
}

void TestExchangeHandlers::echoesOnlyWhileText1IsShown()
{
    QFETCH(bool, windowShown);
    QFETCH(bool, text1Shown);

    TestWindow t;
    if (windowShown)
        t->show();
    t->Text1->setVisible(text1Shown);

    // Whenever a chunk is echoed, note what the window showed at that moment.
    QStringList seen;
    connect(t->Text1, &QLineEdit::textChanged, t.window.get(),
            [&] { seen << t->lblError->text() + QLatin1Char('|') + t->lblMyIP->text(); });

    // The page start ends the first chunk; the marker is in the second.
    QByteArray first = "HTTP/1.1 200 OK\r\n\r\n";
    first += QByteArray(255 - first.size() - 6, ' ') + "<html>";
    const QByteArray second = "\r\ns5555203.0.113.7:online<br>\r\n";
    t.socket.deliver(first + second);
    t.socket.deliver("</html>\r\n");

    verifySucceeded(t, QStringLiteral("203.0.113.7"));
    if (!text1Shown) {
        QCOMPARE(t->Text1->text(), QStringLiteral("Text1"));
        QVERIFY(seen.isEmpty());
        return;
    }
    QCOMPARE(t->Text1->text(), QStringLiteral("Text1") + QString::fromLatin1(first + second + "</html>\r\n"));
    // Each chunk is echoed before it is looked at: the page start of the first chunk is seen only
    // by the time the second is echoed.
    QCOMPARE(seen, (QStringList{QStringLiteral("-|N/A"), QStringLiteral("Login Processing...|N/A"),
                                QStringLiteral("-|203.0.113.7")}));
}

void TestExchangeHandlers::floodThroughTheWindowStaysBounded()
{
    TestWindow t;
    const QByteArray flood = noise(2 << 20, true, 7);
    for (qsizetype from = 0; from < flood.size(); from += 4096) {
        t.socket.deliver(flood.mid(from, 4096));
        QVERIFY(t->replyReader.carriedSize() <= ReplyReader::kMaxCarry);
        QVERIFY(t->intLoginPhase == 0 || t->intLoginPhase == 1);
        t.socket.chunksRead.clear();
    }
    QVERIFY(!t.services.ended);

    resetShownOutcome(t);
    t.socket.deliver(QByteArray(300, 'x') + "\r\n" + kReply);
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("203.0.113.7"));
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connected"));
    QCOMPARE(t->strCookie, QStringLiteral("ASPSESSIONIDQQ=FKLMNOPQ"));
}

QTEST_MAIN(TestExchangeHandlers)
#include "tst_exchangehandlers.moc"
