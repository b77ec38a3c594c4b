// Wherever no system's own file is built: nothing is known beyond what Qt says.
#include "exchange/tcpoptions.h"

qint64 unacknowledgedBytes(qintptr /*descriptor*/)
{
    return -1;
}

bool setUnacknowledgedLimit(qintptr /*descriptor*/, int /*milliseconds*/)
{
    return false;
}

SocketFailure socketFailure(QAbstractSocket::SocketError error, const QString & /*errorString*/)
{
    switch (error) {
    case QAbstractSocket::SocketTimeoutError:
        return SocketFailure::TimedOut;
    case QAbstractSocket::RemoteHostClosedError:
        return SocketFailure::Ended;
    default:
        return SocketFailure::Other;
    }
}
