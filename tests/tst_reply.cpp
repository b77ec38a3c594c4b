// The reply reader: the same events however the text is cut, the page start, the status marker
// and its texts, the cookie, the login phase it leaves, and bounded memory under a flood.
#include "exchange/reply.h"
#include "support/replies.h"

#include <QTest>

namespace {

using Phase = ReplyReader::Phase;

QList<ReplyEvent> feedPieces(ReplyReader &reader, Phase &phase, const QString &text, const QList<qsizetype> &cuts)
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

QList<ReplyEvent> feedWhole(const QString &text, Phase phase = Phase::BeforePage)
{
    ReplyReader reader;
    return feedPieces(reader, phase, text, {});
}

ReplyEvent outcome(const QString &address, bool online)
{
    return {ReplyEvent::Kind::Outcome, address, online};
}

const ReplyEvent kPageStart{ReplyEvent::Kind::PageStart, QString(), false};

// One reader fed text after text, each in the phase the one before left, as the window feeds it.
struct Stream {
    ReplyReader reader;
    Phase phase = Phase::BeforePage;

    QList<ReplyEvent> feed(const QByteArray &bytes)
    {
        const ReplyReader::Result read = reader.feed(phase, QString::fromLatin1(bytes));
        phase = read.phase;
        return read.events;
    }
};

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
    void readerFindsTheSameHoweverCut();
    void readerDropsAnOverlongAddress_data();
    void readerDropsAnOverlongAddress();
    void readerStaysBoundedUnderFlood_data();
    void readerStaysBoundedUnderFlood();
    void pageStart_data();
    void pageStart();
    void markerBeforePageStartIsIgnored();
    void statusText_data();
    void statusText();
    void emptyAddressKeepsWaiting();
    void secondMarkerNeedsANewPage();
    void cookieCapture_data();
    void cookieCapture();
    void statusAtTheEndOfTheStream_data();
    void statusAtTheEndOfTheStream();
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
        Phase phase = Phase::BeforePage;
        QCOMPARE(feedPieces(reader, phase, reply, {cut}), expected);
    }
    for (qsizetype a = 1; a < reply.size(); a += 7) {
        for (qsizetype b = a + 1; b < reply.size(); b += 3) {
            ReplyReader reader;
            Phase phase = Phase::BeforePage;
            QCOMPARE(feedPieces(reader, phase, reply, {a, b}), expected);
        }
    }
    QList<qsizetype> everyChar;
    for (qsizetype i = 1; i < reply.size(); ++i)
        everyChar.append(i);
    ReplyReader reader;
    Phase phase = Phase::BeforePage;
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
    QCOMPARE(feedWhole(text, Phase::InPage), expected);
    ReplyReader reader;
    Phase phase = Phase::InPage;
    QCOMPARE(feedPieces(reader, phase, text, {3, 100, 255, 258, 262}), expected);
}

void TestReply::readerStaysBoundedUnderFlood_data()
{
    QTest::addColumn<QByteArray>("flood");
    QTest::addColumn<Phase>("phase");

    QTest::newRow("random bytes") << noise(4 << 20, false, 1) << Phase::BeforePage;
    QTest::newRow("random with fragments, page") << noise(4 << 20, true, 2) << Phase::BeforePage;
    QTest::newRow("random with fragments, marker") << noise(4 << 20, true, 3) << Phase::InPage;
    QTest::newRow("endless Set-Cookie line") << "Set-Cookie: a=" + QByteArray(4 << 20, 'b') << Phase::BeforePage;
    QTest::newRow("markers without a colon") << QByteArray("s5555").repeated(1 << 20) << Phase::InPage;
    QTest::newRow("endless address") << "<html>s5555" + QByteArray(4 << 20, '7') << Phase::BeforePage;
    QTest::newRow("endless status text") << "<html>s55551.2.3.4:" + QByteArray(4 << 20, 'o') << Phase::BeforePage;
}

void TestReply::readerStaysBoundedUnderFlood()
{
    QFETCH(QByteArray, flood);
    QFETCH(Phase, phase);

    const QString text = QString::fromLatin1(flood);
    ReplyReader reader;
    qsizetype largest = 0;
    for (qsizetype from = 0; from < text.size(); from += 255) {
        phase = reader.feed(phase, QStringView(text).sliced(from, qMin<qsizetype>(255, text.size() - from))).phase;
        largest = qMax(largest, reader.carriedSize());
    }
    QVERIFY2(largest <= ReplyReader::kMaxCarry, QByteArray::number(largest).constData());
    QVERIFY(phase == Phase::BeforePage || phase == Phase::InPage);

    // Once the flood is over, a reply is read as usual.
    const QString after = QString(300, u'x') + QStringLiteral("\r\n") + QString::fromLatin1(kReply);
    const QList<ReplyEvent> events = reader.feed(phase, after).events;
    QVERIFY(events.contains(outcome(QStringLiteral("203.0.113.7"), true)));
    QVERIFY(events.contains(ReplyEvent{ReplyEvent::Kind::Cookie, QStringLiteral("ASPSESSIONIDQQ=FKLMNOPQ"), false}));
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

    Stream s;
    QCOMPARE(s.feed("HTTP/1.1 200 OK\r\n\r\n" + text + "\r\n"),
             recognised ? QList<ReplyEvent>{kPageStart} : QList<ReplyEvent>{});
    QCOMPARE(s.phase, recognised ? Phase::InPage : Phase::BeforePage);
}

void TestReply::markerBeforePageStartIsIgnored()
{
    Stream s;
    QCOMPARE(s.feed("HTTP/1.1 200 OK\r\nX-Status: s5555198.51.100.1:online\r\n\r\n<html>\r\n"),
             QList<ReplyEvent>{kPageStart});
    QCOMPARE(s.phase, Phase::InPage);

    QCOMPARE(s.feed("s5555203.0.113.7:offline<br>\r\n"),
             QList<ReplyEvent>{outcome(QStringLiteral("203.0.113.7"), false)});
    QCOMPARE(s.phase, Phase::BeforePage);
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

    Stream s;
    QCOMPARE(s.feed("HTTP/1.1 200 OK\r\n\r\n<html>\r\n<body>s5555203.0.113.7:" + status + "\r\n</body></html>\r\n"),
             (QList<ReplyEvent>{kPageStart, outcome(QStringLiteral("203.0.113.7"), online)}));
    QCOMPARE(s.phase, Phase::BeforePage);
}

void TestReply::emptyAddressKeepsWaiting()
{
    Stream s;
    QCOMPARE(s.feed("<html>\r\ns5555:online<br>\r\n"), QList<ReplyEvent>{kPageStart});
    QCOMPARE(s.phase, Phase::InPage);

    // The next marker, even without a new page start, is taken.
    QCOMPARE(s.feed("s5555198.51.100.2:online<br>\r\n"),
             QList<ReplyEvent>{outcome(QStringLiteral("198.51.100.2"), true)});
    QCOMPARE(s.phase, Phase::BeforePage);
}

void TestReply::secondMarkerNeedsANewPage()
{
    Stream s;
    QCOMPARE(s.feed("<html>s5555198.51.100.1:offline<br>s5555198.51.100.2:online<br></html>\r\n"),
             (QList<ReplyEvent>{kPageStart, outcome(QStringLiteral("198.51.100.1"), false)}));
    QCOMPARE(s.phase, Phase::BeforePage);

    QCOMPARE(s.feed("s5555198.51.100.3:online<br>\r\n"), QList<ReplyEvent>{});
    QCOMPARE(s.phase, Phase::BeforePage);

    QCOMPARE(s.feed("<html>s5555198.51.100.4:online<br></html>\r\n"),
             (QList<ReplyEvent>{kPageStart, outcome(QStringLiteral("198.51.100.4"), true)}));
    QCOMPARE(s.phase, Phase::BeforePage);
}

void TestReply::cookieCapture_data()
{
    QTest::addColumn<QByteArray>("text");
    // The text of the last cookie found; null when none is.
    QTest::addColumn<QString>("expected");

    const QString none;
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
    QTest::newRow("no line end yet") << QByteArray("Set-Cookie: a=b") << none;
    QTest::newRow("control character") << QByteArray("Set-Cookie: a=\x01q\r\n") << none;
    QTest::newRow("tab") << QByteArray("Set-Cookie: a=\tb\r\n") << none;
    QTest::newRow("CR inside") << QByteArray("Set-Cookie: a=b\rc\r\n") << none;
    QTest::newRow("empty pair") << QByteArray("Set-Cookie: ; path=/\r\n") << none;
    QTest::newRow("no value") << QByteArray("Set-Cookie:\r\n") << none;
    QTest::newRow("no colon") << QByteArray("Set-Cookie a=b\r\n") << none;
    QTest::newRow("other header") << QByteArray("X-Set-Cookie: a=b\r\n") << none;
    QTest::newRow("inside a line") << QByteArray("<p>set-cookie: a=b</p>\n") << none;
    QTest::newRow("over-long") << "Set-Cookie: a=" + QByteArray(ReplyReader::kMaxCookie, 'b') + "\r\n" << none;
}

void TestReply::cookieCapture()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);

    Stream s;
    const QList<ReplyEvent> events = s.feed("HTTP/1.1 200 OK\r\n" + text);
    QString last;
    for (const ReplyEvent &e : events) {
        if (e.kind == ReplyEvent::Kind::Cookie)
            last = e.text;
    }
    QCOMPARE(last.isNull(), expected.isNull());
    QCOMPARE(last, expected);
}

void TestReply::statusAtTheEndOfTheStream_data()
{
    QTest::addColumn<QString>("tail"); // what follows "s5555203.0.113.7:" as the stream's last text
    QTest::addColumn<bool>("knownAtOnce");
    QTest::addColumn<bool>("online");

    QTest::newRow("online, nothing after it") << "online" << true << true;
    QTest::newRow("online, more status after it") << "online and more" << true << true;
    QTest::newRow("offline, nothing after it") << "offline" << false << false;
    QTest::newRow("part of online") << "onli" << false << false;
    QTest::newRow("empty status") << "" << false << false;
}

// A reply whose stream ends with its status text: success is known as soon as "online" is read,
// however the text is cut; anything else is judged when the stream ends, and never twice.
void TestReply::statusAtTheEndOfTheStream()
{
    QFETCH(QString, tail);
    QFETCH(bool, knownAtOnce);
    QFETCH(bool, online);

    const QString text = QStringLiteral("HTTP/1.1 200 OK\r\n\r\n<html><body>s5555203.0.113.7:") + tail;
    const QList<ReplyEvent> expected{kPageStart, outcome(QStringLiteral("203.0.113.7"), online)};
    for (qsizetype cut = 0; cut <= text.size(); ++cut) {
        ReplyReader reader;
        Phase phase = Phase::BeforePage;
        QList<ReplyEvent> events = feedPieces(reader, phase, text, {cut});
        QCOMPARE(phase, knownAtOnce ? Phase::BeforePage : Phase::InPage);
        QCOMPARE(events.size(), knownAtOnce ? 2 : 1);
        const ReplyReader::Result end = reader.endOfStream(phase);
        events += end.events;
        QCOMPARE(events, expected);
        QCOMPARE(end.phase, Phase::BeforePage);
        QCOMPARE(reader.carriedSize(), 0);
        QVERIFY(reader.endOfStream(end.phase).events.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestReply)
#include "tst_reply.moc"
