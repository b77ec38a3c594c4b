// Windows: the local application data, which is the user's own.
#include "app/instanceplace.h"

#include <QDir>
#include <QStandardPaths>

QString InstancePlace::defaultPlace()
{
    // The local, not the roaming, application data: a lock must not travel to another machine.
    const QString local = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (local.isEmpty() || !QDir(local).mkpath(QStringLiteral("Vestrel")))
        return QString();
    return QDir(local).filePath(QStringLiteral("Vestrel"));
}

bool InstancePlace::ownedByUs(const QString & /*path*/)
{
    // The folder is in the user's profile, which no other user can write to.
    return true;
}
