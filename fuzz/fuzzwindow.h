#pragma once
// The window on fakes, for the fuzz targets that drive it.

#include "app/frmDDNS.h"
#include "fuzzcheck.h"
#include "support/fakes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

// The window over fake desktop services, socket and notification area, in a directory that holds
// the program's icons, built once per process: building a window per input would drown the code
// under test in start-up work.
class FuzzWindow
{
public:
    FuzzWindow()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
        // Removed by the destructor; a libFuzzer run, which simply exits, leaves it in TMPDIR.
        QDir(m_dir.path()).mkpath(QStringLiteral("icons"));
        const QDir icons(QStringLiteral(VESTREL_SOURCE_DIR "/icons"));
        for (const QString &name : icons.entryList(QDir::Files))
            QFile::copy(icons.filePath(name), m_dir.filePath(QStringLiteral("icons/") + name));
        services = std::make_unique<FakeDesktopServices>(m_dir.path());
        window = std::make_unique<frmDDNS>(*services, socket, tray,
                                           frmDDNS::ServiceEndpoint{QStringLiteral("ddns.test.invalid"), 80});
        window->Timer1->stop();
    }

    ~FuzzWindow()
    {
        window.reset();
        services.reset();
    }

    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    FakeWinsock socket;
    FakeNotificationArea tray;
    std::unique_ptr<FakeDesktopServices> services;
    std::unique_ptr<frmDDNS> window;

private:
    int m_argc = 1;
    char m_arg0[8] = "fuzzer";
    char *m_argv[2] = {m_arg0, nullptr};
    // Declared before the window, so it outlives it.
    std::unique_ptr<QApplication> m_app;
    QTemporaryDir m_dir;
};

// The one window of a target: made on first use, released by fuzzTeardown(). It is deliberately
// not a static object: destroying a QApplication while the process exits is unsafe.
inline FuzzWindow *&fuzzWindowSlot()
{
    static FuzzWindow *slot = nullptr;
    return slot;
}

inline FuzzWindow &fuzzWindow()
{
    FuzzWindow *&slot = fuzzWindowSlot();
    if (!slot)
        slot = new FuzzWindow;
    return *slot;
}

inline void releaseFuzzWindow()
{
    FuzzWindow *&slot = fuzzWindowSlot();
    delete slot;
    slot = nullptr;
}
