// Loading config.dat whatever it holds: the four fields are applied together or not at all, each as
// its line reads with the outer spaces removed, and nothing reaches the point where the program
// would report a failure and end.
//
// Input: the bytes of config.dat. Whether the check box starts ticked comes from the input's length,
// so that both directions of a change are reached.
#include "fuzzwindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include <array>
#include <optional>

namespace {

const QString kEnterAccount = QStringLiteral("Enter your username and password. Then click \"Save\"");
const QString kUntickHint = QStringLiteral("If you want to connect, please uncheck \"Disable Service\"");

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

QString outerSpacesRemoved(const QByteArray &line)
{
    return withoutOuterSpaces(QString::fromLocal8Bit(line));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzWindow &f = fuzzWindow();
    frmDDNS &w = *f.window;

    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile file(f.filePath(QStringLiteral("config.dat")));
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "config.dat can be written");
        FUZZ_CHECK(file.write(bytes) == bytes.size(), "config.dat can be written");
    }

    // What the controls hold before: texts that no file can produce (a line never holds a CR).
    const QString gateway = QStringLiteral("gateway\r");
    const QString username = QStringLiteral("username\r");
    const QString password = QStringLiteral("password\r");
    const bool tickedBefore = size % 2 == 1;
    w.chkDisableService->setChecked(tickedBefore);
    w.txtGatewayIP->setText(gateway);
    w.txtUsername->setText(username);
    w.txtPassword->setText(password);
    w.lblMessage->setText(QStringLiteral("before"));
    f.socket.calls.clear();
    FUZZ_CHECK(w.txtUsername->text() == username, "the text boxes hold what they were given");

    w.dispatch([&w] { w.LoadSettings(); });

    FUZZ_CHECK(!f.services->hasEnded(), "no failure reaches the point where the program ends");
    FUZZ_CHECK(f.services->boxes.isEmpty(), "loading shows no message box");

    const std::optional<std::array<QByteArray, 4>> lines = fourLines(bytes);
    if (!lines) {
        FUZZ_CHECK(w.txtGatewayIP->text() == gateway, "a short file applies no field");
        FUZZ_CHECK(w.txtUsername->text() == username, "a short file applies no field");
        FUZZ_CHECK(w.txtPassword->text() == password, "a short file applies no field");
        FUZZ_CHECK(w.chkDisableService->isChecked() == tickedBefore, "a short file applies no field");
        FUZZ_CHECK(w.lblMessage->text() == kEnterAccount, "a short file asks for the account");
        return 0;
    }
    const bool appliedAll = w.txtGatewayIP->text() == outerSpacesRemoved((*lines)[0])
                            && w.txtUsername->text() == outerSpacesRemoved((*lines)[1])
                            && w.txtPassword->text() == outerSpacesRemoved((*lines)[2])
                            && w.chkDisableService->isChecked() == (outerSpacesRemoved((*lines)[3]) == u"1");
    const bool appliedNone = w.txtGatewayIP->text() == gateway && w.txtUsername->text() == username
                             && w.txtPassword->text() == password && w.chkDisableService->isChecked() == tickedBefore;
    FUZZ_CHECK(appliedAll || appliedNone, "all four fields are applied as they stand in the file, or none");
    if (appliedAll) {
        // Ticking the box runs its handler, whose connect decision leaves the hint to untick it.
        const bool ticked = w.chkDisableService->isChecked();
        const QString expected = ticked && !tickedBefore ? kUntickHint : QStringLiteral("before");
        FUZZ_CHECK(w.lblMessage->text() == expected, "a successful load shows no message of its own");
    } else
        FUZZ_CHECK(w.lblMessage->text() == kEnterAccount, "a file that is not applied asks for the account");
    return 0;
}

void fuzzTeardown()
{
    releaseFuzzWindow();
}
