// config.dat beside the executable: the window's side. What the file holds is settings/accountfile.
#include "app/frmDDNS.h"
#include "app/privatefile.h"
#include "core/logging.h"
#include "settings/accountfile.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>

namespace {

const QString kAccessFailed = QStringLiteral("Failed to access file ");
const QString kWriteFailed = QStringLiteral("Error writing data to file ");
const QString kEnterAccount = QStringLiteral("Enter your username and password. Then click \"Save\"");
const QString kSaved = QStringLiteral("Save Successfully");

// A field by the caption the window gives it.
QString caption(AccountField field)
{
    switch (field) {
    case AccountField::Gateway:
        return QStringLiteral("Gateway (Name or IP)");
    case AccountField::Username:
        return QStringLiteral("Username");
    case AccountField::Password:
        return QStringLiteral("Password");
    }
    return QString();
}

QString notInCodePage(AccountField field)
{
    return QLatin1Char('"') + caption(field)
           + QStringLiteral("\" cannot be saved in this system's character set. Nothing was saved.");
}

// A path as the user's platform writes it.
QString quoted(const QString &path)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

void openForReading(QFile &file, const QString &path)
{
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly))
        return;
    if (!QFileInfo::exists(path))
        throw NumberedError(Err::FileNotFound, QStringLiteral("File not found"));
    throw NumberedError(Err::PathFileAccess, QStringLiteral("Path/File access error"));
}

void openForWriting(QSaveFile &file, const QString &path)
{
    const bool existed = QFileInfo::exists(path);
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (!QFileInfo(QFileInfo(path).absolutePath()).isDir())
            throw NumberedError(Err::PathNotFound, QStringLiteral("Path not found"));
        throw NumberedError(Err::PathFileAccess, QStringLiteral("Path/File access error"));
    }
    // Private before a byte of the account is in it.
    if (PrivateFile::restrict(file, existed) == PrivateFile::Outcome::Failed)
        throw NumberedError(Err::PathFileAccess, QStringLiteral("Path/File access error"));
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
        m_firstStart = step.lastNumber() == Err::FileNotFound;
        if (m_firstStart)
            qCInfo(lcSettings, "no account file at %s yet", qUtf8Printable(QDir::toNativeSeparators(path)));
        else
            qCWarning(lcSettings, "cannot open %s: %s", qUtf8Printable(QDir::toNativeSeparators(path)),
                      qUtf8Printable(step.lastDescription()));
        lblMessage->setText(kAccessFailed + quoted(path));
        return;
    }

    AccountReading reading;
    step([&] { reading = readAccount(file); });
    if (step.failed() || !reading.ok()) {
        // A partial account is worse than none: nothing is applied unless all four lines arrived.
        qCWarning(lcSettings, "%s holds no complete account; nothing of it was applied",
                  qUtf8Printable(QDir::toNativeSeparators(path)));
        lblMessage->setText(kEnterAccount);
    } else {
        qCInfo(lcSettings, "account loaded from %s", qUtf8Printable(QDir::toNativeSeparators(path)));
        step([&] { txtGatewayIP->setText(reading.account.gateway); });
        step([&] { txtUsername->setText(reading.account.username); });
        step([&] { txtPassword->setText(reading.account.password); });
        // Last, because a change of value runs the check box's click handler at once.
        step([&] { chkDisableService->setChecked(reading.account.disabled); });
    }
    step([&] { file.close(); });
}

void frmDDNS::cmdSave_Click()
{
    StepSkipper step;
    step([&] { lblMessage->setText(QString()); });
    QString path;
    step([&] { path = configPath(); });
    Account account;
    step([&] {
        account = {txtGatewayIP->text(), txtUsername->text(), txtPassword->text(), chkDisableService->isChecked()};
    });
    // A field written as look-alikes or "?" would be lost at the next load, after the save had been
    // reported a success; the file is not touched.
    if (const std::optional<AccountField> lost = fieldTheCodePageLoses(account)) {
        qCWarning(lcSettings, "not saved: \"%s\" holds text this system's code page cannot hold",
                  qUtf8Printable(caption(*lost)));
        services().messageBox(notInCodePage(*lost), DesktopServices::Icon::Stop);
        return;
    }
    // The lines go to a new file that replaces the old one only once every write has succeeded,
    // so a failed save leaves the stored account as it was.
    QSaveFile file;
    step([&] { openForWriting(file, path); });
    if (step.failed()) {
        qCWarning(lcSettings, "cannot save the account: %s cannot be written (%s)",
                  qUtf8Printable(QDir::toNativeSeparators(path)), qUtf8Printable(step.lastDescription()));
        services().messageBox(kAccessFailed + quoted(path), DesktopServices::Icon::Stop);
        return;
    }

    step([&] {
        // Flushed here: a write that fails while commit() closes the file goes unnoticed there, and
        // the file cut short would replace the account.
        if (!writeAccount(file, account) || !file.flush())
            throw NumberedError(Err::DeviceIo, QStringLiteral("Device I/O error"));
    });
    const bool writeFailed = step.failed();
    if (writeFailed) {
        file.cancelWriting();
        services().messageBox(kWriteFailed + quoted(path), DesktopServices::Icon::Stop);
    }

    // The commit replaces the old file; should that fail, the old file stays and the user is told.
    step([&] {
        if (!file.commit())
            throw NumberedError(Err::DeviceIo, QStringLiteral("Device I/O error"));
    });
    if (!step.failed()) {
        qCInfo(lcSettings, "account saved to %s", qUtf8Printable(QDir::toNativeSeparators(path)));
        services().messageBox(kSaved, DesktopServices::Icon::None);
        return;
    }
    qCWarning(lcSettings, "saving the account to %s failed; the file is as it was",
              qUtf8Printable(QDir::toNativeSeparators(path)));
    if (!writeFailed)
        services().messageBox(kWriteFailed + quoted(path), DesktopServices::Icon::Stop);
}

void frmDDNS::cmdDefault_Click()
{
    txtGatewayIP->setText(strServerHost);
}
