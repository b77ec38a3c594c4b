#pragma once
// config.dat as values: the account read from a device and written to one. Opening, closing and
// telling the user are the caller's.

#include <QByteArray>
#include <QString>

#include <optional>

class QIODevice;

// The four fields of config.dat: gateway, username, password (plain text) and the "Disable service"
// flag.
struct Account {
    QString gateway;
    QString username;
    QString password;
    bool disabled = false;

    friend bool operator==(const Account &, const Account &) = default;
};

struct AccountReading {
    enum class Failure {
        None,
        TooFewLines, // the device ended before the fourth line began
        Unreadable,  // the device reported an error
        TooLong,     // a field longer than a text box holds, which would load cut short
    };

    Failure failure = Failure::None;
    Account account; // meaningful only without a failure

    bool ok() const { return failure == Failure::None; }
};

// As many characters as a text box holds; a longer field is refused rather than loaded cut short.
inline constexpr qsizetype kMaxAccountField = 32767;

// Reads four lines from the device's current position. A line ends at CR (with an LF right after it
// belonging to the same end), at a bare LF, or, for the last line, at the end of the device; lines
// after the fourth are not read. Bytes become text in the system's 8-bit code page. Each field is
// the line with the spaces, and only the spaces, at both ends removed; the flag is set when its
// line so trimmed reads exactly "1". All four fields, or a failure.
AccountReading readAccount(QIODevice &device);

// The file's bytes for an account: four lines, each ended by CR LF, in the system's 8-bit code
// page, each field with its outer spaces removed; line breaks inside a field are dropped, so that
// a pasted one cannot split the field and shift every later one on the next load.
QByteArray accountFileBytes(const Account &account);

// Writes the account's bytes; false when the device takes fewer than all of them.
bool writeAccount(QIODevice &device, const Account &account);

// How text becomes the file's bytes and back. The file uses the system's 8-bit code page; a test
// hands in another to play a system whose page lacks characters this one has.
struct CodePage {
    QByteArray (*encode)(const QString &text);
    QString (*decode)(const QByteArray &bytes);
};
// On Windows the ANSI code page, which has no room for most of Unicode: what it lacks is written as
// a look-alike or "?". Elsewhere UTF-8, which holds any well-formed text.
const CodePage &systemCodePage();

enum class AccountField { Gateway, Username, Password };

// The first text field, in the file's order, whose line would not read back as the field holds it
// (a character the code page lacks, written as something else); none when every field survives.
// Only what the file keeps of a field counts: its outer spaces and line breaks go anyway.
std::optional<AccountField> fieldTheCodePageLoses(const Account &account, const CodePage &page = systemCodePage());
