#include "app/console.h"
#include "app/frmDDNS.h"
#include "app/logplace.h"
#include "app/qtdesktopservices.h"
#include "app/singleinstance.h"
#include "core/logging.h"
#include "exchange/qtwinsock.h"
#include "tray/qtnotificationarea.h"

#include <QApplication>
#include <QStandardPaths>

#include <cstring>

namespace {

constexpr char kUsage[] = "Usage: vestrel [--help | --version]\n"
                          "\n"
                          "Keeps the Vestrel dynamic-DNS service told of this machine's address. The program\n"
                          "takes no other arguments: it lives in the tray, and keeps its account in config.dat\n"
                          "beside the executable. Starting it again from the same folder brings up the window\n"
                          "of the copy that runs there.\n"
                          "\n"
                          "  -h, --help     show this help and exit\n"
                          "  -v, --version  show the name and version and exit\n";

// The two switches are answered before QApplication exists, so that they work where no display
// is. Any other argument is left alone, as it always was. Returns -1 to go on and start.
int answerSwitches(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            printAnswer("vestrel " VESTREL_VERSION "\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printAnswer(kUsage);
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int status = answerSwitches(argc, argv); status >= 0)
        return status;

    // Before the application, so that even a platform that fails to load is said where it is kept.
    LogPlace::start();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vestrel"));
    QApplication::setApplicationVersion(QStringLiteral(VESTREL_VERSION));
    // Wayland shells match the window to vestrel.desktop by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("vestrel"));
    // The window hides into the tray; only Exit, or a close from the system, ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // One client per program folder: a second start brings up the first one's window instead.
    SingleInstance instance(QCoreApplication::applicationDirPath(),
                            QStandardPaths::writableLocation(QStandardPaths::HomeLocation),
                            SingleInstance::defaultPlace());
    switch (instance.claim()) {
    case SingleInstance::Claim::Start:
        break;
    case SingleInstance::Claim::Shown:
        return 0;
    case SingleInstance::Claim::NoAnswer:
    case SingleInstance::Claim::Impostor:
        return 1;
    }

    QtDesktopServices services;
    QtWinsock socket;
    QtNotificationArea tray;
    // The service's address is fixed when the program is built.
    frmDDNS window(services, socket, tray, {QStringLiteral(VESTREL_SERVICE_HOST), VESTREL_SERVICE_PORT});
    window.start();
    if (services.hasEnded())
        return services.exitCode();
    QObject::connect(&instance, &SingleInstance::showRequested, &window, [&window, &instance] {
        qCInfo(lcTray) << "a second start asked for the window";
        window.showOnRequest([&instance](bool shown) { instance.answerShowRequests(shown); });
    });
    // The session is ending (log-out, shutdown, or a quit the platform asked for): that is a close
    // requested by the system, so the window closes with a reason other than the user's own, which
    // ends the program and removes the tray icon. Once the program has ended this does nothing.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] { window.close(); });
    return QApplication::exec();
}
