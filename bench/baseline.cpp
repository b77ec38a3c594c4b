// The yardstick for the client's footprint: the least a Qt Widgets tray program can be. It shows a
// tray icon and an empty window of the client's size, and does nothing else.
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QPixmap picture(16, 16);
    picture.fill(Qt::darkCyan);
    QSystemTrayIcon tray{QIcon(picture)};
    tray.setToolTip(QStringLiteral("Baseline"));
    tray.show();

    QWidget window;
    window.setWindowTitle(QStringLiteral("Baseline"));
    window.setFixedSize(345, 239);
    window.show();

    // The start-up benchmark hands over a pipe: one byte on it marks the first turn of the event loop.
    bool hasPipe = false;
    const int readyFd = qEnvironmentVariableIntValue("BENCH_READY_FD", &hasPipe);
    if (hasPipe) {
        QTimer::singleShot(0, &app, [readyFd] {
            const char byte = 'r';
            if (::write(readyFd, &byte, 1) != 1)
                qWarning("bench-baseline: could not signal readiness");
            ::close(readyFd);
        });
    }
    return QApplication::exec();
}
