// Unix: the runtime directory, or a private folder in the temporary one; files judged by their owner.
#include "app/instanceplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// A folder only this user can write to, made if missing: a real folder (not a link), owned by this
// user, with no access for anyone else. Empty where that cannot be had.
QString privateFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return QString();
    if ((info.st_mode & 0077) != 0 && ::chmod(name.constData(), 0700) != 0)
        return QString();
    return path;
}

} // namespace

QString InstancePlace::defaultPlace()
{
    // The runtime directory is the user's own; Qt checks it. Without one, the shared temporary
    // directory would let any local user make the lock first: a folder of this user's own there.
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (!runtime.isEmpty())
            return runtime;
    }
    return privateFolder(QDir::tempPath() + QStringLiteral("/vestrel-") + QString::number(::geteuid()));
}

bool InstancePlace::ownedByUs(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) != 0 || info.st_uid == ::geteuid();
}

QString InstancePlace::folderIdentity(const QString &folder)
{
    // Unix names are exact: the canonical path, with every link resolved, is the folder's one name.
    return QFileInfo(folder).canonicalFilePath();
}

bool InstancePlace::servedByHolder(QLocalSocket & /*socket*/, qint64 /*holder*/)
{
    // The socket lives in a folder only this user can write to (defaultPlace), and a file there
    // made by anyone else is not believed (ownedByUs).
    return true;
}

void InstancePlace::letHolderTakeForeground(qint64 /*holder*/)
{
    // X11 and Wayland leave focus to the window manager, which the holder asks (activateWindow).
}
