// Windows: Qt hands a GUI program's lines to OutputDebugString unless a console is attached, so
// they also go to %LOCALAPPDATA%\Vestrel\vestrel.log, the user's own folder that holds the lock.
#include "app/instanceplace.h"
#include "app/logplace.h"
#include "core/logfile.h"

#include <QDir>

QString LogPlace::start()
{
    const QString folder = InstancePlace::defaultPlace();
    if (folder.isEmpty())
        return QString();
    QString path = QDir(folder).filePath(QStringLiteral("vestrel.log"));
    installLogFile(path);
    return path;
}
