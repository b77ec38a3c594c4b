#include "app/frmDDNS.h"
#include "app/qtdesktopservices.h"
#include "exchange/qtwinsock.h"
#include "tray/qtnotificationarea.h"

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
    // The session is ending (log-out, shutdown, or a quit the platform asked for): that is a close
    // requested by the system, so the window closes with a reason other than the user's own, which
    // ends the program and removes the tray icon. Once the program has ended this does nothing.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] { window.close(); });
    return QApplication::exec();
}
