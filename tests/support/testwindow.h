#pragma once

#include "app/frmDDNS.h"
#include "exchange/qtwinsock.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

// A directory that stands in for the executable's directory, with the program's icons/ copied in.
class AppDir
{
public:
    explicit AppDir(bool withIcons = true)
    {
        if (withIcons)
            copyIcons();
    }

    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    void copyIcons()
    {
        const QDir source(QStringLiteral(VESTREL_SOURCE_DIR "/icons"));
        QDir(path()).mkpath(QStringLiteral("icons"));
        for (const QString &name : source.entryList(QDir::Files))
            QFile::copy(source.filePath(name), filePath(QStringLiteral("icons/") + name));
    }
    void removeIcons() { QDir(filePath(QStringLiteral("icons"))).removeRecursively(); }

    void writeConfig(const QByteArray &bytes) const
    {
        QFile f(filePath(QStringLiteral("config.dat")));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    QByteArray readConfig() const
    {
        QFile f(filePath(QStringLiteral("config.dat")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
};

// The window built on fakes, with its real timer stopped: tests tick it by calling Timer1_Timer().
struct TestWindow {
    explicit TestWindow(bool withIcons = true,
                        frmDDNS::ServiceEndpoint service = {QStringLiteral("ddns.test.invalid"), 80})
        : dir(withIcons), services(dir.path()),
          window(std::make_unique<frmDDNS>(services, socket, tray, std::move(service)))
    {
        window->Timer1->stop();
    }

    frmDDNS *operator->() { return window.get(); }
    frmDDNS &operator*() { return *window; }

    AppDir dir;
    FakeDesktopServices services;
    FakeWinsock socket;
    FakeNotificationArea tray;
    std::unique_ptr<frmDDNS> window;
};

// The window on the real socket, pointed at a service (on 127.0.0.1 unless told otherwise), with fake
// desktop and tray. Its timer is stopped: the test ticks it, letting the event loop run in between.
struct LiveWindow {
    LiveWindow(quint16 port, const QByteArray &configBytes, const QString &host = QStringLiteral("127.0.0.1"))
        : services(dir.path())
    {
        if (!configBytes.isNull())
            dir.writeConfig(configBytes);
        window = std::make_unique<frmDDNS>(services, socket, tray, frmDDNS::ServiceEndpoint{host, port});
        window->Timer1->stop();
    }

    frmDDNS *operator->() { return window.get(); }
    // As the timer would: through the dispatch boundary, so a failure shows up as a reported end.
    void tick()
    {
        window->dispatch([this] { window->Timer1_Timer(); });
    }
    bool healthy() const { return !services.ended && services.boxes.isEmpty(); }
    QString caption() const { return window->cmdConnect->text(); }

    AppDir dir;
    FakeDesktopServices services;
    QtWinsock socket;
    FakeNotificationArea tray;
    std::unique_ptr<frmDDNS> window;
};
