#pragma once

#include "tray/notificationarea.h"
#include "tray/trayactivationtranslator.h"

#include <functional>
#include <optional>

class QSystemTrayIcon;
class QTimer;

// The real notification area, on QSystemTrayIcon.
//
// The tray menu is never handed to QSystemTrayIcon: the window opens it itself on 516. Given a
// context menu, the XEmbed backend pops it up on the right press and still reports a Context
// activation, so the window would open it a second time; the D-Bus backend would export it for
// the StatusNotifierItem host to show. Without one, every backend only reports the right click as
// a Context activation (XEmbed on the press, a StatusNotifierItem host through its ContextMenu
// call, the Windows shell on the release) and the menu opens exactly once, from the window.
//
// Qt tells nobody when a notification area appears or goes away. Where Qt uses a D-Bus tray (a
// StatusNotifierItem host answered at start), the area follows the watcher's name on the session bus
// instead: asking Qt would open a private bus connection and block on the watcher every time, for up
// to 25 s while the watcher hangs. Elsewhere (an X11 tray, or an injected probe) it asks every two
// seconds, which costs next to nothing. When the area goes away the icon is hidden here at once: Qt's XEmbed backend
// would otherwise dock a still visible icon by itself as soon as a tray comes back, even while the window is open, when
// the icon must stay away. The window adds it again when it wants it.
//
// Qt also takes no notice when the system refuses the icon: on Windows a NIM_ADD fails while
// Explorer is still starting at log-on, just when a Startup shortcut starts the program, and no
// TaskbarCreated follows; Qt's icon still says it is visible, and the system still says it has a
// notification area. For the first minutes after start, where the system tells where an icon stands
// (trayiconcheck.h), the area looks every two seconds whether the icon it added stands there, adds
// it once more where it does not, and stops looking once it has seen it stand.
class QtNotificationArea final : public NotificationArea
{
    Q_OBJECT
public:
    // Whether a notification area exists now; QSystemTrayIcon::isSystemTrayAvailable by default.
    using AvailabilityProbe = std::function<bool()>;
    // Whether the shown icon stands in the area; nothing where the system cannot tell
    // (trayIconStands by default).
    using IconCheck = std::function<std::optional<bool>(const QSystemTrayIcon &icon)>;
    static constexpr int pollIntervalMs = 2000;
    static constexpr int iconCheckIntervalMs = 2000;
    static constexpr qint64 iconWatchMs = qint64(5) * 60 * 1000;

    explicit QtNotificationArea(QObject *parent = nullptr);
    explicit QtNotificationArea(AvailabilityProbe probe, QObject *parent = nullptr);
    ~QtNotificationArea() override;

    bool Shell_NotifyIcon(Operation operation, const NOTIFYICONDATA &nid) override;
    bool isAvailable() const override;
    bool isIconPresent() const override;

    // What the timer runs: asks whether an area exists and reports a change.
    void pollAvailability();

    // Replaces the check; the watch runs only where it can tell.
    void setIconCheck(IconCheck check);
    // What the icon watch's timer runs, msecsSinceStart after the area was made: while the icon is
    // meant to be in the area, asks whether it stands there, and adds it once more where it does not.
    // Done for good once the icon has been seen standing, the system cannot tell, or the watch is over.
    void checkIconStands(qint64 msecsSinceStart);

private:
    // Records the area's state and reports a change.
    void setAvailable(bool available);
    // Starts following the session bus's StatusNotifierWatcher if Qt uses the D-Bus tray.
    bool followWatcher();

    AvailabilityProbe m_probe;
    QTimer *m_poll = nullptr;
    IconCheck m_iconCheck;
    QTimer *m_iconWatch = nullptr;
    // The answer of the last poll, or whether the watcher has an owner.
    bool m_available = false;
    bool m_followsWatcher = false;
    QSystemTrayIcon *m_icon = nullptr;
    TrayActivationTranslator m_translator;
    quintptr m_hWnd = 0;
    quint32 m_uID = 0;
};
