#pragma once

#include <QBuffer>

// A buffer that fails on demand: reading or writing past `failAt` bytes reports an error, as a
// disk that is full or a file that cannot be read does.
class FailDevice final : public QBuffer
{
public:
    explicit FailDevice(qint64 failAt, QByteArray data = {});

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    qint64 m_failAt;
};
