#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>

class QSystemTrayIcon;

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

// The real notification area, on QSystemTrayIcon.
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
    quint32 m_uID = 0;
};
