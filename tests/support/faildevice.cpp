#include "support/faildevice.h"

#include <cstring>

FailDevice::FailDevice(qint64 failAt, QByteArray data) : m_failAt(failAt), m_data(std::move(data))
{}

bool FailDevice::open(OpenMode mode)
{
    // Unbuffered, so that every byte read or peeked comes through readData().
    return QIODevice::open(mode | Unbuffered);
}

qint64 FailDevice::readData(char *data, qint64 maxSize)
{
    if (pos() >= m_failAt)
        return -1;
    const qint64 n = qMin(maxSize, qMin(m_failAt, size()) - pos());
    if (n <= 0)
        return 0;
    std::memcpy(data, m_data.constData() + pos(), size_t(n));
    return n;
}

qint64 FailDevice::writeData(const char *data, qint64 maxSize)
{
    if (pos() >= m_failAt)
        return -1;
    const qint64 n = qMin(maxSize, m_failAt - pos());
    if (m_data.size() < pos() + n)
        m_data.append(QByteArray(pos() + n - m_data.size(), '\0'));
    std::memcpy(m_data.data() + pos(), data, size_t(n));
    return n;
}
