#pragma once

#include <QByteArray>
#include <QIODevice>

// A device over bytes that fails on demand: reading or writing past `failAt` bytes reports an
// error, as a disk that is full or a file that cannot be read does. Not a QBuffer, whose peek reads
// its bytes directly and so would see past the failure.
class FailDevice final : public QIODevice
{
public:
    explicit FailDevice(qint64 failAt, QByteArray data = {});

    bool open(OpenMode mode) override;
    qint64 size() const override { return m_data.size(); }
    // The bytes the device holds: what it was made with, overwritten by what was written.
    const QByteArray &data() const { return m_data; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    qint64 m_failAt;
    QByteArray m_data;
};
