// The update request: log in and report the local address.
#include "exchange/request.h"

#include "core/text.h"

QString formEncode(const QString &value)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = value.toUtf8();
    QString out;
    out.reserve(utf8.size() * 3);
    for (const char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '*' || b == '-'
            || b == '.' || b == '_') {
            out.append(QChar(b));
        } else if (b == ' ') {
            out.append(u'+');
        } else {
            out.append(u'%');
            out.append(QChar(hex[b >> 4]));
            out.append(QChar(hex[b & 0xF]));
        }
    }
    return out;
}

QString headerSafe(const QString &value)
{
    QString out = value;
    out.removeIf([](QChar c) { return c == u'\r' || c == u'\n' || c == u'\0'; });
    return out;
}

QString buildUpdateRequest(const QString &username, const QString &password, const QString &localIP,
                           const QString &remoteHost, const QString &cookie)
{
    const QString body =
        QStringLiteral("confirm=ready") + QStringLiteral("&isFromClientProgram=true") + QStringLiteral("&username=")
        + formEncode(trimSpaces(username)) + QStringLiteral("&password=") + formEncode(trimSpaces(password))
        + QStringLiteral("&updateDNSStatus=true") + QStringLiteral("&localip=") + formEncode(trimSpaces(localIP));

    static const QString crlf = QStringLiteral("\r\n");
    QString request;
    request.reserve(body.size() + 640);
    request += QStringLiteral("POST ") + QStringLiteral("/asp/index.asp") + QStringLiteral(" HTTP/1.1") + crlf;
    request += QStringLiteral("Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                              "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*")
               + crlf;
    request += QStringLiteral("Referer: ") + headerSafe(localIP) + crlf;
    request += QStringLiteral("Accept-Language: en-us") + crlf;
    request += QStringLiteral("Content-Type: application/x-www-form-urlencoded") + crlf;
    request += QStringLiteral("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; Q312461; .NET CLR "
                              "1.0.3705)")
               + crlf;
    request += QStringLiteral("Host: ") + headerSafe(remoteHost) + crlf;
    request += QStringLiteral("Connection: Keep-Alive") + crlf;
    // The body is pure ASCII once encoded, so its length in characters is its length in bytes.
    request += QStringLiteral("Content-Length: ") + QString::number(body.size()) + crlf;
    request += QStringLiteral("Cookie: verify=tarn; ") + headerSafe(cookie) + crlf;
    request += crlf;
    request += body;
    request += crlf;
    return request;
}
