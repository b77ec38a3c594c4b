#include "settings/accountfile.h"

#include "core/text.h"

#include <QIODevice>

#include <array>

namespace {

enum class LineResult { Line, End, Error };

// One line without its end.
LineResult readLine(QIODevice &device, QByteArray &line)
{
    line.clear();
    char c = 0;
    if (!device.getChar(&c))
        return device.atEnd() ? LineResult::End : LineResult::Error;
    do {
        if (c == '\n')
            return LineResult::Line;
        if (c == '\r') {
            char next = 0;
            if (device.peek(&next, 1) == 1 && next == '\n')
                device.skip(1);
            return LineResult::Line;
        }
        line.append(c);
    } while (device.getChar(&c));
    return device.atEnd() ? LineResult::Line : LineResult::Error;
}

// A field as one line of the file.
QString asLine(const QString &text)
{
    QString line = text;
    line.remove(QLatin1Char('\r'));
    line.remove(QLatin1Char('\n'));
    return trimSpaces(line);
}

} // namespace

AccountReading readAccount(QIODevice &device)
{
    AccountReading reading;
    std::array<QString, 4> fields;
    QByteArray line;
    for (QString &field : fields) {
        switch (readLine(device, line)) {
        case LineResult::End:
            reading.failure = AccountReading::Failure::TooFewLines;
            return reading;
        case LineResult::Error:
            reading.failure = AccountReading::Failure::Unreadable;
            return reading;
        case LineResult::Line:
            break;
        }
        field = trimSpaces(QString::fromLocal8Bit(line));
    }
    for (qsizetype i = 0; i < 3; ++i) {
        if (fields[i].size() > kMaxAccountField) {
            reading.failure = AccountReading::Failure::TooLong;
            return reading;
        }
    }
    reading.account = {fields[0], fields[1], fields[2], fields[3] == QLatin1String("1")};
    return reading;
}

QByteArray accountFileBytes(const Account &account)
{
    QByteArray bytes;
    for (const QString &field : {account.gateway, account.username, account.password})
        bytes += asLine(field).toLocal8Bit() + "\r\n";
    bytes += account.disabled ? "1\r\n" : "0\r\n";
    return bytes;
}

bool writeAccount(QIODevice &device, const Account &account)
{
    const QByteArray bytes = accountFileBytes(account);
    return device.write(bytes) == bytes.size();
}
