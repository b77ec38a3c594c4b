#pragma once

#include "tray/notificationarea.h"
#include "tray/trayactivationtranslator.h"

class QSystemTrayIcon;

// The real notification area, on QSystemTrayIcon.
//
// The tray menu is never handed to QSystemTrayIcon: the window opens it itself on 516. Given a
// context menu, the XEmbed backend pops it up on the right press and still reports a Context
// activation, so the window would open it a second time; the D-Bus backend would export it for
// the StatusNotifierItem host to show. Without one, every backend only reports the right click as
// a Context activation (XEmbed on the press, a StatusNotifierItem host through its ContextMenu
// call, the Windows shell on the release) and the menu opens exactly once, from the window.
class QtNotificationArea final : public NotificationArea
{
    Q_OBJECT
public:
    explicit QtNotificationArea(QObject *parent = nullptr);
    ~QtNotificationArea() override;

    bool Shell_NotifyIcon(Operation operation, const NOTIFYICONDATA &nid) override;
    bool isAvailable() const override;
    bool isIconPresent() const override;

private:
    QSystemTrayIcon *m_icon = nullptr;
    TrayActivationTranslator m_translator;
    quintptr m_hWnd = 0;
    quint32 m_uID = 0;
};
