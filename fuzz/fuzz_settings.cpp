// config.dat as values, whatever it holds: reading gives all four fields, each as its line reads with
// the outer spaces removed, or a failure; what was read is written back as the same account; the
// bytes of any account, line breaks in its fields included, are exactly four CR LF lines; a write
// cut short is reported. No window: the window's side is tst_settingshandlers'.
//
// Input: the bytes of config.dat. Cut in three, the same bytes are also the fields of an account as
// typed; the last two bytes say where a write fails.
#include "fuzzcheck.h"
#include "settings/accountfile.h"
#include "support/faildevice.h"

#include <QBuffer>
#include <QStringDecoder>

#include <array>
#include <optional>

namespace {

// The system's 8-bit code page, a byte-order mark kept as the character it is.
QString inCodePage(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::System, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

// Four lines, each ended by CR, CR LF, LF or, the last one only, the end of the file; anything
// after the fourth line does not count. No value when the file ends before the fourth line begins.
std::optional<std::array<QByteArray, 4>> fourLines(const QByteArray &file)
{
    std::array<QByteArray, 4> lines;
    qsizetype pos = 0;
    for (QByteArray &line : lines) {
        if (pos >= file.size())
            return std::nullopt;
        qsizetype end = pos;
        while (end < file.size() && file[end] != '\r' && file[end] != '\n')
            ++end;
        line = file.mid(pos, end - pos);
        pos = end;
        if (pos < file.size() && file[pos++] == '\r' && pos < file.size() && file[pos] == '\n')
            ++pos;
    }
    return lines;
}

AccountReading readBytes(const QByteArray &bytes)
{
    QBuffer file;
    file.setData(bytes);
    file.open(QIODevice::ReadOnly);
    return readAccount(file);
}

// What a field reads back as once written: on one line, without its outer spaces.
QString asWritten(QString text)
{
    text.remove(u'\r');
    text.remove(u'\n');
    return withoutOuterSpaces(text);
}

bool fitsATextBox(const std::array<QString, 3> &fields)
{
    for (const QString &field : fields) {
        if (field.size() > kMaxAccountField)
            return false;
    }
    return true;
}

void checkFourCrLfLines(const QByteArray &bytes)
{
    int ends = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        FUZZ_CHECK(bytes[i] != '\n', "no LF but the one after a CR");
        if (bytes[i] == '\r') {
            FUZZ_CHECK(i + 1 < bytes.size() && bytes[i + 1] == '\n', "every CR ends a line with its LF");
            ++ends;
            ++i;
        }
    }
    FUZZ_CHECK(ends == 4 && bytes.endsWith("\r\n"), "an account is exactly four lines, each ended by CR LF");
}

// The account's bytes, which have just been checked, are what a write puts on a device, and a write
// that cannot put all of them there says so.
void checkWrites(const Account &account, const QByteArray &bytes, qint64 failAt)
{
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    FUZZ_CHECK(writeAccount(file, account), "a write with room for every byte succeeds");
    FUZZ_CHECK(file.data() == bytes, "a write puts the account's bytes on the device");

    FailDevice full(failAt % bytes.size());
    full.open(QIODevice::WriteOnly);
    FUZZ_CHECK(!writeAccount(full, account), "a write cut short is reported");
}

void checkReading(const QByteArray &file, const AccountReading &reading)
{
    using F = AccountReading::Failure;
    const std::optional<std::array<QByteArray, 4>> lines = fourLines(file);
    FUZZ_CHECK((reading.failure == F::TooFewLines) == !lines,
               "too few lines exactly when the file has fewer than four");
    FUZZ_CHECK(reading.failure != F::Unreadable, "a buffer is always readable");
    if (!lines)
        return;
    std::array<QString, 4> fields;
    for (std::size_t i = 0; i < fields.size(); ++i)
        fields[i] = withoutOuterSpaces(inCodePage((*lines)[i]));
    if (!fitsATextBox({fields[0], fields[1], fields[2]})) {
        FUZZ_CHECK(reading.failure == F::TooLong, "a field longer than a text box holds is refused");
        return;
    }
    FUZZ_CHECK(reading.ok(), "four lines that fit their text boxes are an account");
    const Account &a = reading.account;
    FUZZ_CHECK(a.gateway == fields[0] && a.username == fields[1] && a.password == fields[2],
               "each field is its line with the outer spaces removed");
    FUZZ_CHECK(a.disabled == (fields[3] == u"1"), "the flag is set exactly when its line so trimmed reads 1");
    for (const QString &field : {a.gateway, a.username, a.password}) {
        FUZZ_CHECK(!field.contains(u'\r') && !field.contains(u'\n'), "a field holds no line break");
        FUZZ_CHECK(!field.startsWith(u' ') && !field.endsWith(u' '), "a field has no outer space");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray file(reinterpret_cast<const char *>(data), qsizetype(size));
    const qint64 failAt = size >= 2 ? data[size - 2] << 8 | data[size - 1] : qint64(size);

    const AccountReading reading = readBytes(file);
    checkReading(file, reading);
    if (reading.ok()) {
        const QByteArray bytes = accountFileBytes(reading.account);
        checkFourCrLfLines(bytes);
        const AccountReading again = readBytes(bytes);
        FUZZ_CHECK(again.ok() && again.account == reading.account, "an account read is written so that it reads back");
        checkWrites(reading.account, bytes, failAt);
    }

    // An account as typed, whose fields may hold anything, line breaks included.
    const qsizetype third = file.size() / 3;
    const Account typed{QString::fromLocal8Bit(file.first(third)), QString::fromLocal8Bit(file.sliced(third, third)),
                        QString::fromLocal8Bit(file.sliced(2 * third)), size % 2 == 1};
    const QByteArray bytes = accountFileBytes(typed);
    checkFourCrLfLines(bytes);
    const Account expected{asWritten(typed.gateway), asWritten(typed.username), asWritten(typed.password),
                           typed.disabled};
    const AccountReading back = readBytes(bytes);
    if (fitsATextBox({expected.gateway, expected.username, expected.password}))
        FUZZ_CHECK(back.ok() && back.account == expected, "a typed field reads back whole, on one line");
    else
        FUZZ_CHECK(back.failure == AccountReading::Failure::TooLong, "a field longer than a text box is refused");
    checkWrites(typed, bytes, failAt);
    return 0;
}

void fuzzTeardown()
{}
