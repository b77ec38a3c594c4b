#include "app/desktopservices.h"
#include "app/frmDDNS.h"
#include "exchange/winsock.h"
#include "tray/modSystemTray.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vestrel"));
    QApplication::setApplicationVersion(QStringLiteral(VESTREL_VERSION));
    // The window hides into the tray; only Exit, or a close from the system, ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    QtDesktopServices services;
    QtWinsock socket;
    QtNotificationArea tray;
    // The service's address is fixed when the program is built.
    frmDDNS window(services, socket, tray, {QStringLiteral(VESTREL_SERVICE_HOST), VESTREL_SERVICE_PORT});
    window.load();
    if (services.hasEnded())
        return services.exitCode();
    return QApplication::exec();
}
