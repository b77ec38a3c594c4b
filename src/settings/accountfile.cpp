#include "settings/accountfile.h"

#include "core/text.h"

#include <QIODevice>
#include <QStringDecoder>

#include <array>
#include <utility>

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

QByteArray encodeInSystemPage(const QString &text)
{
    return text.toLocal8Bit();
}

// A byte-order mark is kept as a character like any other, so that a field that begins with one
// reads back as it was written.
QString decodeInSystemPage(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::System, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
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

const CodePage &systemCodePage()
{
    static const CodePage page{encodeInSystemPage, decodeInSystemPage};
    return page;
}

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
        field = trimSpaces(systemCodePage().decode(line));
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
        bytes += systemCodePage().encode(asLine(field)) + "\r\n";
    bytes += account.disabled ? "1\r\n" : "0\r\n";
    return bytes;
}

bool writeAccount(QIODevice &device, const Account &account)
{
    const QByteArray bytes = accountFileBytes(account);
    return device.write(bytes) == bytes.size();
}

std::optional<AccountField> fieldTheCodePageLoses(const Account &account, const CodePage &page)
{
    const std::array<std::pair<AccountField, const QString *>, 3> fields{{
        {AccountField::Gateway, &account.gateway},
        {AccountField::Username, &account.username},
        {AccountField::Password, &account.password},
    }};
    for (const auto &[field, text] : fields) {
        // Read back as a load reads it.
        const QString line = asLine(*text);
        if (trimSpaces(page.decode(page.encode(line))) != line)
            return field;
    }
    return std::nullopt;
}
