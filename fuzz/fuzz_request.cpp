// The update request for any account, address, host and cookie texts. Whatever the texts hold, the
// bytes on the wire are exactly one HTTP/1.1 request: nine header lines in their fixed order, none
// of them split or added to, a Content-Length that counts the body, and a body whose fields decode
// back to the trimmed values.
//
// Input: five fields (username, password, local address, host, cookie), each a kind byte, a length
// byte and that many bytes. The kind says how the bytes become text: Latin-1, UTF-8, or raw UTF-16
// (any code unit, lone surrogates included). A missing field is empty.
#include "exchange/request.h"
#include "fuzzcheck.h"

#include <QByteArrayList>
#include <QList>

#include <algorithm>

namespace {

QString takeField(const std::uint8_t *&data, std::size_t &size)
{
    if (size < 2) {
        size = 0;
        return QString();
    }
    const int kind = data[0] % 3;
    const std::size_t length = std::min<std::size_t>(data[1], size - 2);
    const char *bytes = reinterpret_cast<const char *>(data + 2);
    data += 2 + length;
    size -= 2 + length;
    switch (kind) {
    case 0:
        return QString::fromLatin1(bytes, qsizetype(length));
    case 1:
        return QString::fromUtf8(bytes, qsizetype(length));
    default: {
        QString text;
        for (std::size_t i = 0; i + 1 < length; i += 2)
            text.append(QChar(char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8)));
        return text;
    }
    }
}

// What a header value may carry of a text: everything but the characters that end a line (and NUL,
// which ends one for some readers), one byte per character as the socket sends it.
QByteArray asHeaderValue(const QString &text)
{
    QString kept;
    for (const QChar c : text) {
        if (c != u'\r' && c != u'\n' && c != u'\0')
            kept.append(c);
    }
    return kept.toLatin1();
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lower-case hex is not what the encoder writes
}

// Decodes one form value, refusing anything an application/x-www-form-urlencoded serializer would
// not have written.
QByteArray formDecode(const QByteArray &value)
{
    QByteArray out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '*' || c == '-'
            || c == '.' || c == '_') {
            out.append(c);
        } else if (c == '+') {
            out.append(' ');
        } else if (c == '%') {
            FUZZ_CHECK(i + 2 < value.size(), "a percent sign is followed by two hex digits");
            const int high = hexValue(value[i + 1]);
            const int low = hexValue(value[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0, "percent escapes use upper-case hex digits");
            const char decoded = char(high << 4 | low);
            // A byte that could have stood for itself would not have been escaped.
            FUZZ_CHECK(!((decoded >= 'a' && decoded <= 'z') || (decoded >= 'A' && decoded <= 'Z')
                         || (decoded >= '0' && decoded <= '9')),
                       "letters and digits are never escaped");
            out.append(decoded);
            i += 2;
        } else {
            FUZZ_CHECK(false, "the body holds only characters the form encoding writes");
        }
    }
    return out;
}

void checkFieldDecodesTo(const QByteArray &pair, const QByteArray &name, const QString &value)
{
    FUZZ_CHECK(pair.startsWith(name + '='), "the body's fields come in their fixed order");
    const QByteArray decoded = formDecode(pair.mid(name.size() + 1));
    // Compared as UTF-8 bytes: decoding them again would drop a leading byte-order mark, and a
    // lone surrogate, which has no UTF-8 form, travels as U+FFFD.
    FUZZ_CHECK(decoded == withoutOuterSpaces(value).toUtf8(), "a body field decodes back to the trimmed value");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString username = takeField(data, size);
    const QString password = takeField(data, size);
    const QString localIP = takeField(data, size);
    const QString host = takeField(data, size);
    const QString cookie = takeField(data, size);

    // One byte per character, as the socket puts it on the wire.
    const QByteArray wire = buildUpdateRequest(username, password, localIP, host, cookie).toLatin1();

    const qsizetype headEnd = wire.indexOf("\r\n\r\n");
    FUZZ_CHECK(headEnd > 0, "the head ends with an empty line");
    const QByteArrayList lines = wire.left(headEnd).split('\n');
    FUZZ_CHECK(lines.size() == 10, "a request line and nine header lines, no more");
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        // Every line but the last lost its CR LF to the split; the last lost it to the search.
        const QByteArray text = i + 1 < lines.size() ? line.chopped(1) : line;
        FUZZ_CHECK(i + 1 == lines.size() || line.endsWith('\r'), "every line ends with CR LF");
        FUZZ_CHECK(!text.contains('\r') && !text.contains('\0'), "no line holds a CR or NUL of its own");
    }
    auto value = [&lines](qsizetype i, const char *name) {
        const QByteArray prefix = QByteArray(name) + ": ";
        const QByteArray line = i + 1 < lines.size() ? lines[i].chopped(1) : lines[i];
        FUZZ_CHECK(line.startsWith(prefix), "the header lines come in their fixed order");
        return line.mid(prefix.size());
    };
    FUZZ_CHECK(lines[0] == "POST /asp/index.asp HTTP/1.1\r", "the request line is fixed");
    value(1, "Accept");
    FUZZ_CHECK(value(2, "Referer") == asHeaderValue(localIP), "Referer carries the address, line breaks dropped");
    FUZZ_CHECK(value(3, "Accept-Language") == "en-us", "fixed header");
    FUZZ_CHECK(value(4, "Content-Type") == "application/x-www-form-urlencoded", "fixed header");
    value(5, "User-Agent");
    FUZZ_CHECK(value(6, "Host") == asHeaderValue(host), "Host carries the host, line breaks dropped");
    FUZZ_CHECK(value(7, "Connection") == "Keep-Alive", "fixed header");
    const QByteArray lengthText = value(8, "Content-Length");
    FUZZ_CHECK(value(9, "Cookie") == "verify=tarn; " + asHeaderValue(cookie), "the cookie line, line breaks dropped");

    bool isNumber = !lengthText.isEmpty() && (lengthText == "0" || lengthText[0] != '0');
    for (const char c : lengthText)
        isNumber = isNumber && c >= '0' && c <= '9';
    FUZZ_CHECK(isNumber, "Content-Length is plain decimal digits");
    const qsizetype bodyStart = headEnd + 4;
    const qsizetype length = lengthText.toLongLong();
    // The body, then the CR LF that follows it and is not counted, then nothing: a second request
    // can never begin inside this one.
    FUZZ_CHECK(wire.size() == bodyStart + length + 2, "Content-Length counts exactly the body");
    FUZZ_CHECK(wire.endsWith("\r\n"), "the body is followed by CR LF");
    const QByteArray body = wire.mid(bodyStart, length);

    const QByteArrayList pairs = body.split('&');
    FUZZ_CHECK(pairs.size() == 6, "six fields: no value adds or splits one");
    FUZZ_CHECK(pairs[0] == "confirm=ready", "fixed field");
    FUZZ_CHECK(pairs[1] == "isFromClientProgram=true", "fixed field");
    checkFieldDecodesTo(pairs[2], "username", username);
    checkFieldDecodesTo(pairs[3], "password", password);
    FUZZ_CHECK(pairs[4] == "updateDNSStatus=true", "fixed field");
    checkFieldDecodesTo(pairs[5], "localip", localIP);
    return 0;
}

void fuzzTeardown()
{}
