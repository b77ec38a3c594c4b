#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include <array>

// The tray record, laid out like the shell's first notify-icon record (88 bytes on its first
// platform). It is filled once at start-up and passed unchanged to add and to delete the icon.
struct NOTIFYICONDATA {
    quint32 cbSize = 0;
    quintptr hWnd = 0;
    quint32 uID = 0;
    quint32 uFlags = 0;
    quint32 uCallbackMessage = 0;
    QIcon hIcon;
    std::array<char, 64> szTip{};

    // The tip up to its terminating NUL.
    QString tip() const;
};

inline constexpr quint32 NIF_MESSAGE = 1;
inline constexpr quint32 NIF_ICON = 2;
inline constexpr quint32 NIF_TIP = 4;
inline constexpr quint32 WM_MOUSEMOVE = 0x200;

// Mouse messages the shell reports for the icon.
inline constexpr int WM_LBUTTONDOWN = 513;
inline constexpr int WM_LBUTTONUP = 514;
inline constexpr int WM_LBUTTONDBLCLK = 515;
inline constexpr int WM_RBUTTONDOWN = 516;
inline constexpr int WM_RBUTTONUP = 517;
inline constexpr int WM_MBUTTONDOWN = 519;

// The desktop's notification area. Activations of the icon arrive as the shell's mouse message
// numbers, which the window receives as the x argument of its mouse-move handler.
class NotificationArea : public QObject
{
    Q_OBJECT
public:
    enum Operation { NIM_ADD = 0, NIM_MODIFY = 1, NIM_DELETE = 2 };

    using QObject::QObject;

    // Adding an icon that is present, or deleting one that is absent, is refused and changes nothing.
    virtual bool Shell_NotifyIcon(Operation operation, const NOTIFYICONDATA &nid) = 0;
    // Whether the desktop has a notification area at all.
    virtual bool isAvailable() const = 0;
    virtual bool isIconPresent() const = 0;

signals:
    void notification(quint32 uID, int mouseMessage);
};

// Turns Qt's tray activations into the shell's mouse message numbers. The backends differ: the
// XEmbed tray reports a left press as Trigger and the second press of a double-click as
// DoubleClick; the Windows shell reports Trigger for the first click and then DoubleClick;
// StatusNotifierItem hosts have no double-click at all and call Activate (Trigger) once per click.
// Two Triggers within the double-click interval, with no DoubleClick between them, therefore
// count as one double-click, so that every backend yields exactly one 515 per double-click.
class TrayActivationTranslator
{
public:
    explicit TrayActivationTranslator(int doubleClickIntervalMs) : m_interval(doubleClickIntervalMs) {}

    // The shell's number for an activation at the given time (milliseconds, any monotonic base),
    // or 0 when there is nothing to report.
    int mouseMessage(QSystemTrayIcon::ActivationReason reason, qint64 msecs);

private:
    int m_interval;
    bool m_triggerPending = false;
    qint64 m_lastTrigger = 0;
};

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
