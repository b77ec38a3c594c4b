#include "httprequestreader.h"

namespace {

bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127 || c == ':' || c == '(' || c == ')' || c == '"' || c == ',')
            return false;
    }
    return true;
}

// Where the head ends (just past its empty line), or -1. A bare LF is accepted as a line end.
qsizetype headEnd(const QByteArray &buffer)
{
    qsizetype from = 0;
    while (true) {
        const qsizetype lf = buffer.indexOf('\n', from);
        if (lf < 0)
            return -1;
        const qsizetype next = lf + 1;
        if (buffer.mid(next, 2) == "\r\n")
            return next + 2;
        if (next < buffer.size() && buffer.at(next) == '\n')
            return next + 1;
        from = next;
    }
}

} // namespace

QByteArray HttpRequest::header(QByteArrayView name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

HttpRequestReader::Result HttpRequestReader::next(HttpRequest &request)
{
    // Empty lines before a request line are skipped: clients may end a body with a CR LF that its
    // Content-Length does not count.
    qsizetype skip = 0;
    while (skip < m_buffer.size() && (m_buffer.at(skip) == '\n' || m_buffer.at(skip) == '\r'))
        ++skip;
    m_buffer.remove(0, skip);
    if (m_buffer.isEmpty())
        return Result::Incomplete;

    const qsizetype end = headEnd(m_buffer);
    if (end < 0)
        return m_buffer.size() > kMaxHead ? Result::Malformed : Result::Incomplete;
    if (end > kMaxHead)
        return Result::Malformed;

    HttpRequest parsed;
    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    bool first = true;
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (first) {
            first = false;
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty() || !parts[2].startsWith("HTTP/1."))
                return Result::Malformed;
            parsed.method = parts[0];
            parsed.target = parts[1];
            parsed.version = parts[2];
            continue;
        }
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(QByteArrayView(line).first(colon)))
            return Result::Malformed;
        parsed.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }

    // Only bodies framed by Content-Length are understood; anything else would desynchronise the stream.
    if (!parsed.header("Transfer-Encoding").isNull())
        return Result::Malformed;
    qsizetype length = 0;
    const QByteArray lengthText = parsed.header("Content-Length");
    if (!lengthText.isNull()) {
        bool ok = false;
        for (char c : lengthText) {
            if (c < '0' || c > '9')
                return Result::Malformed;
        }
        length = lengthText.toLongLong(&ok);
        if (!ok || length > kMaxBody)
            return Result::Malformed;
        for (const auto &h : parsed.headers) {
            if (h.first.compare("Content-Length", Qt::CaseInsensitive) == 0 && h.second != lengthText)
                return Result::Malformed;
        }
    }
    if (m_buffer.size() - end < length)
        return Result::Incomplete;

    parsed.body = m_buffer.mid(end, length);
    m_buffer.remove(0, end + length);
    request = std::move(parsed);
    return Result::Ready;
}
