#include "app/qtdesktopservices.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>

void QtDesktopServices::messageBox(const QString &text, Icon icon)
{
    QMessageBox box(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QCoreApplication::applicationName(), text, QMessageBox::Ok);
    box.exec();
}

void QtDesktopServices::endProgram(int exitCode)
{
    m_ended = true;
    m_exitCode = exitCode;
    // Before the event loop runs, exit() has no effect; main() checks hasEnded() instead.
    QCoreApplication::exit(exitCode);
}

QString QtDesktopServices::appPath() const
{
    QString path = QCoreApplication::applicationDirPath();
    while (path.size() > 1 && (path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'))))
        path.chop(1);
    return path;
}
