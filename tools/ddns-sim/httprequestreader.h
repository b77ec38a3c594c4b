#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>

// One HTTP/1.1 request as it came off the wire.
struct HttpRequest {
    QByteArray method;
    QByteArray target;
    QByteArray version;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // The value of the first header of that name (names compare case-insensitively), or a null array.
    QByteArray header(QByteArrayView name) const;
};

// Cuts the requests out of a connection's byte stream. Bytes are appended as they arrive, in pieces
// of any size; next() hands out each request once its head and its Content-Length body are complete,
// so requests split over several segments and several requests in one segment both come out whole.
class HttpRequestReader
{
public:
    enum class Result { Incomplete, Ready, Malformed };

    // Limits that keep a confused or hostile peer from growing the buffer without end.
    static constexpr qsizetype kMaxHead = qsizetype(16) * 1024;
    static constexpr qsizetype kMaxBody = qsizetype(64) * 1024;

    void append(QByteArrayView bytes) { m_buffer.append(bytes.data(), bytes.size()); }
    // On Ready, request holds the next request and its bytes are consumed. After Malformed the stream
    // cannot be resynchronised; the caller should give up on the connection.
    Result next(HttpRequest &request);
    qsizetype buffered() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
};
