#include "support/faildevice.h"

FailDevice::FailDevice(qint64 failAt, QByteArray data) : m_failAt(failAt)
{
    setData(std::move(data));
}

qint64 FailDevice::readData(char *data, qint64 maxSize)
{
    if (pos() >= m_failAt)
        return -1;
    return QBuffer::readData(data, qMin(maxSize, m_failAt - pos()));
}

qint64 FailDevice::writeData(const char *data, qint64 maxSize)
{
    if (pos() >= m_failAt)
        return -1;
    return QBuffer::writeData(data, qMin(maxSize, m_failAt - pos()));
}
