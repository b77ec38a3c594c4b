// The update request: its exact bytes, the form encoding of the account, where the local address
// goes trimmed and where as read, the cookie line, and header values that cannot add lines.
#include "core/text.h"
#include "exchange/request.h"

#include <QTest>

namespace {

struct Parsed {
    QList<QByteArray> headLines;
    QByteArray body;
    bool endsWithCrLf = false;
};

// Splits a request at the empty line; the body loses the CR LF that follows it.
Parsed parse(const QByteArray &request)
{
    Parsed p;
    const qsizetype end = request.indexOf("\r\n\r\n");
    if (end < 0)
        return p;
    p.headLines = request.left(end).split('\n');
    for (QByteArray &line : p.headLines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    p.body = request.mid(end + 4);
    p.endsWithCrLf = p.body.endsWith("\r\n");
    if (p.endsWithCrLf)
        p.body.chop(2);
    return p;
}

QByteArray header(const Parsed &p, const QByteArray &name)
{
    for (const QByteArray &line : p.headLines) {
        if (line.startsWith(name + ": "))
            return line.mid(name.size() + 2);
    }
    return "<missing>";
}

const QString kHost = QStringLiteral("ddns.test.invalid");

QByteArray request(const QString &username, const QString &password, const QString &localIP,
                   const QString &cookie = QString())
{
    return buildUpdateRequest(username, password, localIP, kHost, cookie).toLatin1();
}

} // namespace

class TestRequest : public QObject
{
    Q_OBJECT
private slots:
    void goldenRequest();
    void bodyEncodesTheAccount_data();
    void bodyEncodesTheAccount();
    void localAddressTrimmedOnlyInTheBody();
    void cookieLine();
    void headerValuesCannotAddLines_data();
    void headerValuesCannotAddLines();
};

void TestRequest::goldenRequest()
{
    const QByteArray expected =
        "POST /asp/index.asp HTTP/1.1\r\n"
        "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, "
        "application/vnd.ms-powerpoint, application/msword, */*\r\n"
        "Referer: 192.168.1.23\r\n"
        "Accept-Language: en-us\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; Q312461; .NET CLR 1.0.3705)\r\n"
        "Host: ddns.test.invalid\r\n"
        "Connection: Keep-Alive\r\n"
        "Content-Length: 111\r\n"
        "Cookie: verify=tarn; \r\n"
        "\r\n"
        "confirm=ready&isFromClientProgram=true&username=alice&password=secret&updateDNSStatus=true"
        "&localip=192.168.1.23\r\n";
    QCOMPARE(request(QStringLiteral("alice"), QStringLiteral("secret"), QStringLiteral("192.168.1.23")), expected);
}

void TestRequest::bodyEncodesTheAccount_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("expectedUsername");
    QTest::addColumn<QByteArray>("expectedPassword");

    QTest::newRow("empty account") << QString() << QString() << QByteArray() << QByteArray();
    QTest::newRow("only spaces") << QStringLiteral("   ") << QStringLiteral(" ") << QByteArray() << QByteArray();
    QTest::newRow("form delimiters") << QStringLiteral("a&b=c") << QStringLiteral("p+q%r&x=y")
                                     << QByteArray("a%26b%3Dc") << QByteArray("p%2Bq%25r%26x%3Dy");
    QTest::newRow("spaces at the ends and inside") << QStringLiteral("  john doe  ") << QStringLiteral(" pass  word ")
                                                   << QByteArray("john+doe") << QByteArray("pass++word");
    QTest::newRow("non-ASCII letters as UTF-8") << QStringLiteral("J\u00FCrgen") << QStringLiteral("p\u00E4ss\u20AC")
                                                << QByteArray("J%C3%BCrgen") << QByteArray("p%C3%A4ss%E2%82%AC");
    QTest::newRow("unreserved set") << QStringLiteral("Az09*-._") << QStringLiteral("~!'()") << QByteArray("Az09*-._")
                                    << QByteArray("%7E%21%27%28%29");
    QTest::newRow("only spaces are trimmed") << QStringLiteral("\tuser\t") << QStringLiteral("\u00A0pw")
                                             << QByteArray("%09user%09") << QByteArray("%C2%A0pw");
}

void TestRequest::bodyEncodesTheAccount()
{
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QByteArray, expectedUsername);
    QFETCH(QByteArray, expectedPassword);

    const Parsed p = parse(request(username, password, QStringLiteral("10.0.0.2")));

    QCOMPARE(p.body, "confirm=ready&isFromClientProgram=true&username=" + expectedUsername
                         + "&password=" + expectedPassword + "&updateDNSStatus=true&localip=10.0.0.2");
    QCOMPARE(header(p, "Content-Length"), QByteArray::number(p.body.size()));
    QCOMPARE(p.body.size(), 88 + expectedUsername.size() + expectedPassword.size() + 8);
    QVERIFY(p.endsWithCrLf);
}

void TestRequest::localAddressTrimmedOnlyInTheBody()
{
    const Parsed p = parse(request(QString(), QString(), QStringLiteral(" 10.0.0.2 ")));
    QCOMPARE(header(p, "Referer"), QByteArray(" 10.0.0.2 "));
    QVERIFY(p.body.endsWith("&localip=10.0.0.2"));
    QCOMPARE(header(p, "Content-Length"), QByteArray::number(88 + 8));
}

void TestRequest::cookieLine()
{
    const QByteArray without = request(QString(), QString(), QString());
    const QByteArray with = request(QString(), QString(), QString(), QStringLiteral("ASPSESSIONIDQS=KDJFHEUR"));
    QCOMPARE(header(parse(without), "Cookie"), QByteArray("verify=tarn; "));
    QCOMPARE(header(parse(with), "Cookie"), QByteArray("verify=tarn; ASPSESSIONIDQS=KDJFHEUR"));
}

void TestRequest::headerValuesCannotAddLines_data()
{
    QTest::addColumn<QString>("remoteHost");
    QTest::addColumn<QString>("localIP");
    QTest::addColumn<QString>("cookie");

    const QString plainHost = QStringLiteral("ddns.test.invalid");
    const QString plainIP = QStringLiteral("10.0.0.2");
    QTest::newRow("host") << QStringLiteral("ddns.test.invalid\r\nX-Injected: 1") << plainIP << QString();
    QTest::newRow("local address") << plainHost << QStringLiteral("10.0.0.2\r\nX-Injected: 1") << QString();
    QTest::newRow("cookie") << plainHost << plainIP << QStringLiteral("a=b\r\nX-Injected: 1");
    QTest::newRow("bare LF and CR") << QStringLiteral("h\nX-Injected: 1") << QStringLiteral("1\rX-Injected: 1")
                                    << QStringLiteral("c\n\r\nX-Injected: 1");
    QTest::newRow("NUL") << QString::fromUtf16(u"h\0st", 4) << plainIP << QString::fromUtf16(u"a=\0b", 4);
}

void TestRequest::headerValuesCannotAddLines()
{
    QFETCH(QString, remoteHost);
    QFETCH(QString, localIP);
    QFETCH(QString, cookie);

    const QByteArray sent =
        buildUpdateRequest(QStringLiteral("u"), QStringLiteral("p"), localIP, remoteHost, cookie).toLatin1();
    const qsizetype headEnd = sent.indexOf("\r\n\r\n");
    QVERIFY(headEnd > 0);
    const QByteArray head = sent.left(headEnd + 2);
    // Every CR and LF of the head belongs to one of its ten line ends.
    QCOMPARE(head.count('\r'), 10);
    QCOMPARE(head.count('\n'), 10);
    QCOMPARE(head.count("\r\n"), 10);
    QVERIFY(!head.contains('\0'));
    for (const QByteArray &line : parse(sent).headLines)
        QVERIFY2(!line.startsWith("X-Injected"), line.constData());
    // The body keeps the whole local address, encoded.
    const Parsed p = parse(sent);
    QVERIFY(p.body.endsWith("&localip=" + formEncode(trimSpaces(localIP)).toLatin1()));
    QCOMPARE(header(p, "Content-Length"), QByteArray::number(p.body.size()));
}

QTEST_GUILESS_MAIN(TestRequest)
#include "tst_request.moc"
