// config.dat beside the executable: the user's account.
#include "app/frmDDNS.h"
#include "app/text.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>

#include <array>

namespace {

const QString kAccessFailed = QStringLiteral("Failed to access file ");
const QString kWriteFailed = QStringLiteral("Error writing data to file ");
const QString kEnterAccount = QStringLiteral("Enter your username and password. Then click \"Save\"");
const QString kSaved = QStringLiteral("Save Successfully");

QString quoted(const QString &path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}

// What a text box holds, as one line of the file. A pasted line break would otherwise split the
// value over two lines and shift every later field on the next load.
QString asLine(const QString &text)
{
    QString line = text;
    line.remove(QLatin1Char('\r'));
    line.remove(QLatin1Char('\n'));
    return trimSpaces(line);
}

void openForReading(QFile &file, const QString &path)
{
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly))
        return;
    if (!QFileInfo::exists(path))
        throw VbError(Err::FileNotFound, QStringLiteral("File not found"));
    throw VbError(Err::PathFileAccess, QStringLiteral("Path/File access error"));
}

// One line of the file, without its end. A line ends at CR (with an LF right after it belonging
// to the same end), at a bare LF, since files edited elsewhere often end their lines that way, or
// at the end of the file.
QByteArray readLine(QFile &file)
{
    if (file.atEnd())
        throw VbError(Err::InputPastEnd, QStringLiteral("Input past end of file"));
    QByteArray line;
    char c = 0;
    while (file.getChar(&c)) {
        if (c == '\n')
            return line;
        if (c == '\r') {
            char next = 0;
            if (file.peek(&next, 1) == 1 && next == '\n')
                file.skip(1);
            return line;
        }
        line.append(c);
    }
    if (file.error() != QFileDevice::NoError)
        throw VbError(Err::DeviceIo, QStringLiteral("Device I/O error"));
    return line;
}

void openForWriting(QSaveFile &file, const QString &path)
{
    const bool existed = QFileInfo::exists(path);
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (!QFileInfo(QFileInfo(path).absolutePath()).isDir())
            throw VbError(Err::PathNotFound, QStringLiteral("Path not found"));
        throw VbError(Err::PathFileAccess, QStringLiteral("Path/File access error"));
    }
    // The file holds the password in plain text. An existing file keeps the mode its owner gave
    // it (the save file carries it over); a new one is private.
    if (!existed && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw VbError(Err::PathFileAccess, QStringLiteral("Path/File access error"));
}

void writeLine(QSaveFile &file, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit() + "\r\n";
    // Flushed line by line, so that a full disk is noticed as a failed write rather than only
    // when the file is committed.
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw VbError(Err::DeviceIo, QStringLiteral("Device I/O error"));
}

} // namespace

void frmDDNS::LoadSettings()
{
    StepSkipper step;
    QString path;
    step([&] { path = configPath(); });
    QFile file;
    step([&] { openForReading(file, path); });
    if (step.failed()) {
        lblMessage->setText(kAccessFailed + quoted(path));
        return;
    }

    std::array<QString, 4> lines;
    for (QString &line : lines)
        step([&] { line = QString::fromLocal8Bit(readLine(file)); });
    // A text box cuts a longer value short, which would give an account that was never saved.
    const bool fits = trimSpaces(lines[0]).size() <= txtGatewayIP->maxLength()
                      && trimSpaces(lines[1]).size() <= txtUsername->maxLength()
                      && trimSpaces(lines[2]).size() <= txtPassword->maxLength();
    if (step.failed() || !fits) {
        // A partial account is worse than none: nothing is applied unless all four lines arrived.
        lblMessage->setText(kEnterAccount);
    } else {
        step([&] { txtGatewayIP->setText(trimSpaces(lines[0])); });
        step([&] { txtUsername->setText(trimSpaces(lines[1])); });
        step([&] { txtPassword->setText(trimSpaces(lines[2])); });
        // Last, because a change of value runs the check box's click handler at once.
        step([&] { chkDisableService->setChecked(trimSpaces(lines[3]) == QLatin1String("1")); });
    }
    step([&] { file.close(); });
}

void frmDDNS::cmdSave_Click()
{
    StepSkipper step;
    step([&] { lblMessage->setText(QString()); });
    QString path;
    step([&] { path = configPath(); });
    // The lines go to a new file that replaces the old one only once every write has succeeded,
    // so a failed save leaves the stored account as it was.
    QSaveFile file;
    step([&] { openForWriting(file, path); });
    if (step.failed()) {
        services().messageBox(kAccessFailed + quoted(path), DesktopServices::Icon::Stop);
        return;
    }

    step([&] { writeLine(file, asLine(txtGatewayIP->text())); });
    step([&] { writeLine(file, asLine(txtUsername->text())); });
    step([&] { writeLine(file, asLine(txtPassword->text())); });
    step([&] { writeLine(file, QString::number(chkDisableService->isChecked() ? 1 : 0)); });
    if (step.failed()) {
        file.cancelWriting();
        services().messageBox(kWriteFailed + quoted(path), DesktopServices::Icon::Stop);
    }

    step([&] {
        if (!file.commit())
            throw VbError(Err::DeviceIo, QStringLiteral("Device I/O error"));
    });
    if (!step.failed())
        services().messageBox(kSaved, DesktopServices::Icon::None);
}

void frmDDNS::cmdDefault_Click()
{
    txtGatewayIP->setText(strServerHost);
}
