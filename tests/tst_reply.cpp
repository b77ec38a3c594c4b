// Reading the service's replies: the same result however the text is cut, the page start, the
// status marker and its texts, the cookie, the echo, and bounded memory under a flood.
#include "exchange/reply.h"
#include "support/testwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

namespace {

const QByteArray kReply = "HTTP/1.1 200 OK\r\n"
                          "Server: Microsoft-IIS/6.0\r\n"
                          "Content-Type: text/html\r\n"
                          "Set-Cookie: ASPSESSIONIDQQ=FKLMNOPQ; path=/\r\n"
                          "Cache-control: private\r\n"
                          "\r\n"
                          "<html>\r\n<head><title>DDNS</title></head>\r\n<body>\r\n"
                          "s5555203.0.113.7:online<br>\r\n"
                          "Your address has been updated.\r\n"
                          "</body>\r\n</html>\r\n";

const QString kHint = QStringLiteral("Username or password may be incorrect.");

QList<ReplyEvent> feedPieces(ReplyReader &reader, qint16 &phase, const QString &text, const QList<qsizetype> &cuts)
{
    QList<ReplyEvent> all;
    qsizetype from = 0;
    QList<qsizetype> ends = cuts;
    ends.append(text.size());
    for (const qsizetype cut : std::as_const(ends)) {
        // A cut past the end of a short text falls at its end; slicing past it would read beyond it.
        const qsizetype to = qBound(from, cut, text.size());
        const ReplyReader::Result read = reader.feed(phase, QStringView(text).sliced(from, to - from));
        phase = read.phase;
        all += read.events;
        from = to;
    }
    return all;
}

QList<ReplyEvent> feedWhole(const QString &text, qint16 phase = 0)
{
    ReplyReader reader;
    return feedPieces(reader, phase, text, {});
}

ReplyEvent outcome(const QString &address, bool online)
{
    return {ReplyEvent::Kind::Outcome, address, online};
}

// Noise over every byte value, with the beginnings of everything the reader looks for mixed in.
QByteArray noise(qsizetype size, bool withFragments, quint32 seed)
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

// Readable failures for event lists.
char *toString(const QList<ReplyEvent> &events)
{
    QStringList parts;
    for (const ReplyEvent &e : events) {
        switch (e.kind) {
        case ReplyEvent::Kind::PageStart:
            parts << QStringLiteral("page");
            break;
        case ReplyEvent::Kind::Outcome:
            parts << QStringLiteral("outcome(%1, %2)").arg(e.text, e.online ? u"online" : u"failed");
            break;
        case ReplyEvent::Kind::Cookie:
            parts << QStringLiteral("cookie(%1)").arg(e.text);
            break;
        }
    }
    return qstrdup(parts.join(QStringLiteral(", ")).toUtf8().constData());
}

class TestReply : public QObject
{
    Q_OBJECT
private slots:
    // The reader on its own.
    void readerFindsTheSameHoweverCut();
    void readerDropsAnOverlongAddress_data();
    void readerDropsAnOverlongAddress();
    void readerStaysBoundedUnderFlood_data();
    void readerStaysBoundedUnderFlood();

    // The window's handler.
    void sameOutcomeHoweverDelivered();
    void pageStart_data();
    void pageStart();
    void markerBeforePageStartIsIgnored();
    void statusText_data();
    void statusText();
    void emptyAddressKeepsWaiting();
    void secondMarkerNeedsANewPage();
    void addressShownAsPlainText();
    void cookieCapture_data();
    void cookieCapture();
    void readsOneChunkPer255Bytes_data();
    void readsOneChunkPer255Bytes();
    void echoesOnlyWhileText1IsShown_data();
    void echoesOnlyWhileText1IsShown();
    void floodThroughTheWindowStaysBounded();
};

void TestReply::readerFindsTheSameHoweverCut()
{
    const QString reply = QString::fromLatin1(kReply);
    const QList<ReplyEvent> expected{
        {ReplyEvent::Kind::Cookie, QStringLiteral("ASPSESSIONIDQQ=FKLMNOPQ"), false},
        {ReplyEvent::Kind::PageStart, QString(), false},
        outcome(QStringLiteral("203.0.113.7"), true),
    };
    QCOMPARE(feedWhole(reply), expected);

    for (qsizetype cut = 1; cut < reply.size(); ++cut) {
        ReplyReader reader;
        qint16 phase = 0;
        QCOMPARE(feedPieces(reader, phase, reply, {cut}), expected);
    }
    for (qsizetype a = 1; a < reply.size(); a += 7) {
        for (qsizetype b = a + 1; b < reply.size(); b += 3) {
            ReplyReader reader;
            qint16 phase = 0;
            QCOMPARE(feedPieces(reader, phase, reply, {a, b}), expected);
        }
    }
    QList<qsizetype> everyChar;
    for (qsizetype i = 1; i < reply.size(); ++i)
        everyChar.append(i);
    ReplyReader reader;
    qint16 phase = 0;
    QCOMPARE(feedPieces(reader, phase, reply, everyChar), expected);

    // The same reader goes on with the next reply on the same connection.
    QCOMPARE(feedPieces(reader, phase, reply, {}), expected);
}

void TestReply::readerDropsAnOverlongAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<ReplyEvent>>("expected");

    const QString a255(255, u'1');
    QTest::newRow("255 characters") << QStringLiteral("s5555") + a255 + QStringLiteral(":online\n")
                                    << QList<ReplyEvent>{outcome(a255, true)};
    QTest::newRow("256 characters") << QStringLiteral("s5555") + a255 + QStringLiteral("1:online\n")
                                    << QList<ReplyEvent>{};
    // The first marker is dropped; one inside its overlong address still counts.
    QTest::newRow("marker inside a dropped address")
        << QStringLiteral("s5555") + QString(250, u'x') + QStringLiteral("s55551.2.3.4:online\n")
        << QList<ReplyEvent>{outcome(QStringLiteral("1.2.3.4"), true)};
    QTest::newRow("marker within bound keeps the first")
        << QStringLiteral("s5555ab s55551.2.3.4:online\n")
        << QList<ReplyEvent>{outcome(QStringLiteral("ab s55551.2.3.4"), true)};
}

void TestReply::readerDropsAnOverlongAddress()
{
    QFETCH(QString, text);
    QFETCH(QList<ReplyEvent>, expected);
    QCOMPARE(feedWhole(text, 1), expected);
    ReplyReader reader;
    qint16 phase = 1;
    QCOMPARE(feedPieces(reader, phase, text, {3, 100, 255, 258, 262}), expected);
}

void TestReply::readerStaysBoundedUnderFlood_data()
{
    QTest::addColumn<QByteArray>("flood");
    QTest::addColumn<qint16>("phase");

    QTest::newRow("random bytes") << noise(4 << 20, false, 1) << qint16(0);
    QTest::newRow("random with fragments, page") << noise(4 << 20, true, 2) << qint16(0);
    QTest::newRow("random with fragments, marker") << noise(4 << 20, true, 3) << qint16(1);
    QTest::newRow("endless Set-Cookie line") << "Set-Cookie: a=" + QByteArray(4 << 20, 'b') << qint16(0);
    QTest::newRow("markers without a colon") << QByteArray("s5555").repeated(1 << 20) << qint16(1);
    QTest::newRow("endless address") << "<html>s5555" + QByteArray(4 << 20, '7') << qint16(0);
    QTest::newRow("endless status text") << "<html>s55551.2.3.4:" + QByteArray(4 << 20, 'o') << qint16(0);
}

void TestReply::readerStaysBoundedUnderFlood()
{
    QFETCH(QByteArray, flood);
    QFETCH(qint16, phase);

    const QString text = QString::fromLatin1(flood);
    ReplyReader reader;
    qsizetype largest = 0;
    for (qsizetype from = 0; from < text.size(); from += 255) {
        phase = reader.feed(phase, QStringView(text).sliced(from, qMin<qsizetype>(255, text.size() - from))).phase;
        largest = qMax(largest, reader.carriedSize());
    }
    QVERIFY2(largest <= ReplyReader::kMaxCarry, QByteArray::number(largest).constData());
    QVERIFY(phase == 0 || phase == 1);

    // Once the flood is over, a reply is read as usual.
    const QString after = QString(300, u'x') + QStringLiteral("\r\n") + QString::fromLatin1(kReply);
    const QList<ReplyEvent> events = reader.feed(phase, after).events;
    QVERIFY(events.contains(outcome(QStringLiteral("203.0.113.7"), true)));
    QVERIFY(events.contains(ReplyEvent{ReplyEvent::Kind::Cookie, QStringLiteral("ASPSESSIONIDQQ=FKLMNOPQ"), false}));
}

void TestReply::sameOutcomeHoweverDelivered()
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

void TestReply::pageStart_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("recognised");

    QTest::newRow("plain") << QByteArray("<html>") << true;
    QTest::newRow("spaces inside the tag") << QByteArray("< html >") << true;
    QTest::newRow("spaces between letters") << QByteArray("<h t  m l>") << true;
    QTest::newRow("capitals") << QByteArray("<HTML>") << false;
    QTest::newRow("mixed case") << QByteArray("<Html>") << false;
    QTest::newRow("tab inside") << QByteArray("<\thtml>") << false;
    QTest::newRow("line break inside") << QByteArray("<ht\r\nml>") << false;
    QTest::newRow("after a false start") << QByteArray("<h<<html>") << true;
    QTest::newRow("with attributes") << QByteArray("<html lang=en>") << false;
}

void TestReply::pageStart()
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

void TestReply::markerBeforePageStartIsIgnored()
{
    TestWindow t;
    t.socket.deliver("HTTP/1.1 200 OK\r\nX-Status: s5555198.51.100.1:online\r\n\r\n<html>\r\n");
    QCOMPARE(t->intLoginPhase, qint16(1));
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("N/A"));
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connect"));

    t.socket.deliver("s5555203.0.113.7:offline<br>\r\n");
    QCOMPARE(t->intLoginPhase, qint16(0));
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("203.0.113.7"));
    QCOMPARE(t->lblError->text(), QStringLiteral("Login Failed"));
}

void TestReply::statusText_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<bool>("online");

    QTest::newRow("online") << QByteArray("online<br>") << true;
    QTest::newRow("online somewhere in it") << QByteArray("status is online now<br>") << true;
    QTest::newRow("offline") << QByteArray("offline<br>") << false;
    QTest::newRow("capital O") << QByteArray("Online<br>") << false;
    QTest::newRow("capitals") << QByteArray("ONLINE<br>") << false;
    QTest::newRow("only after a line end") << QByteArray("offline\r\nonline") << false;
    QTest::newRow("only after a bare LF") << QByteArray("offline\nonline") << false;
    QTest::newRow("only after a tag") << QByteArray("offline<br>online") << false;
    QTest::newRow("ends within 255 characters") << QByteArray(249, 'x') + "online<br>" << true;
    QTest::newRow("reaches past 255 characters") << QByteArray(250, 'x') + "online<br>" << false;
    QTest::newRow("255 characters, no end") << QByteArray(249, 'x') + "onlineonline" << true;
    QTest::newRow("empty") << QByteArray("<br>online") << false;
}

void TestReply::statusText()
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

void TestReply::emptyAddressKeepsWaiting()
{
    TestWindow t;
    t.socket.deliver("<html>\r\ns5555:online<br>\r\n");
    QCOMPARE(t->intLoginPhase, qint16(1));
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("N/A"));
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connect"));
    QCOMPARE(t->lblError->text(), QStringLiteral("Login Processing..."));

    // The next marker, even without a new page start, is taken.
    t.socket.deliver("s5555198.51.100.2:online<br>\r\n");
    verifySucceeded(t, QStringLiteral("198.51.100.2"));
}

void TestReply::secondMarkerNeedsANewPage()
{
    TestWindow t;
    t.socket.deliver("<html>s5555198.51.100.1:offline<br>s5555198.51.100.2:online<br></html>\r\n");
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("198.51.100.1"));
    QCOMPARE(t->lblError->text(), QStringLiteral("Login Failed"));
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Disconnect"));

    t.socket.deliver("s5555198.51.100.3:online<br>\r\n");
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("198.51.100.1"));
    QCOMPARE(t->intLoginPhase, qint16(0));

    t.socket.deliver("<html>s5555198.51.100.4:online<br></html>\r\n");
    verifySucceeded(t, QStringLiteral("198.51.100.4"));
}

void TestReply::addressShownAsPlainText()
{
    TestWindow t;
    t.socket.deliver("<html>s5555 <b>203.0.113.7</b> :online<br>");
    QCOMPARE(t->lblMyIP->text(), QStringLiteral(" <b>203.0.113.7</b> "));
    QCOMPARE(t->lblMyIP->textFormat(), Qt::PlainText);
}

void TestReply::cookieCapture_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    const QString kept = QStringLiteral("old=1");
    const QString ab = QStringLiteral("a=b");
    QTest::newRow("usual") << QByteArray("Set-Cookie: a=b\r\n") << ab;
    QTest::newRow("small letters") << QByteArray("set-cookie: a=b\r\n") << ab;
    QTest::newRow("capitals, letters kept") << QByteArray("SET-COOKIE: A=B; path=/\r\n") << QStringLiteral("A=B");
    QTest::newRow("mixed, space before colon") << QByteArray("sEt-CoOkIe : a=b\r\n") << ab;
    QTest::newRow("spaces trimmed") << QByteArray("Set-Cookie:   a=b   ; HttpOnly\r\n") << ab;
    QTest::newRow("bare LF") << QByteArray("Set-Cookie: a=b\n") << ab;
    QTest::newRow("bytes above 127 kept")
        << QByteArray("Set-Cookie: n=\xC3\xA9\r\n") << QStringLiteral("n=\u00C3\u00A9");
    QTest::newRow("last one wins") << QByteArray("Set-Cookie: a=b\r\nSet-Cookie: c=d\r\n") << QStringLiteral("c=d");
    QTest::newRow("bad one does not erase") << QByteArray("Set-Cookie: a=b\r\nSet-Cookie: \x7F\r\n") << ab;
    QTest::newRow("after the page start") << QByteArray("<html>\r\nSet-Cookie: a=b\r\n") << ab;
    QTest::newRow("no line end yet") << QByteArray("Set-Cookie: a=b") << kept;
    QTest::newRow("control character") << QByteArray("Set-Cookie: a=\x01q\r\n") << kept;
    QTest::newRow("tab") << QByteArray("Set-Cookie: a=\tb\r\n") << kept;
    QTest::newRow("CR inside") << QByteArray("Set-Cookie: a=b\rc\r\n") << kept;
    QTest::newRow("empty pair") << QByteArray("Set-Cookie: ; path=/\r\n") << kept;
    QTest::newRow("no value") << QByteArray("Set-Cookie:\r\n") << kept;
    QTest::newRow("no colon") << QByteArray("Set-Cookie a=b\r\n") << kept;
    QTest::newRow("other header") << QByteArray("X-Set-Cookie: a=b\r\n") << kept;
    QTest::newRow("inside a line") << QByteArray("<p>set-cookie: a=b</p>\n") << kept;
    QTest::newRow("over-long") << "Set-Cookie: a=" + QByteArray(ReplyReader::kMaxCookie, 'b') + "\r\n" << kept;
}

void TestReply::cookieCapture()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);

    TestWindow t;
    t->strCookie = QStringLiteral("old=1");
    t.socket.deliver("HTTP/1.1 200 OK\r\n" + text);
    QCOMPARE(t->strCookie, expected);
}

void TestReply::readsOneChunkPer255Bytes_data()
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

void TestReply::readsOneChunkPer255Bytes()
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

void TestReply::echoesOnlyWhileText1IsShown_data()
{
    QTest::addColumn<bool>("windowShown");
    QTest::addColumn<bool>("text1Shown");

    QTest::newRow("window in the tray, Text1 hidden") << false << false;
    QTest::newRow("window shown, Text1 hidden") << true << false;
    QTest::newRow("window in the tray, Text1 shown") << false << true;
    QTest::newRow("window shown, Text1 shown") << true << true;
}

void TestReply::echoesOnlyWhileText1IsShown()
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

void TestReply::floodThroughTheWindowStaysBounded()
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

QTEST_MAIN(TestReply)
#include "tst_reply.moc"
