// Windows: the menu takes the foreground before it shows, as Microsoft asks of a notification
// icon's menu (TrackPopupMenu's remarks) and as Qt's own tray menu does; after Esc the keyboard
// goes back to the icon (Shell_NotifyIcon with NIM_SETFOCUS).
#include "app/traymenufocus.h"

#include "core/logging.h"

#include <QGuiApplication>
#include <QWidget>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cwchar>
#include <utility>
#include <vector>

namespace {

// Qt's Windows platform keeps a tray icon in a hidden window of its own thread, of the class
// "<prefix>TrayIconMessageWindowClass", and gives the icon the id 0. Qt publishes neither: both
// are read from its 6.4 sources, and a guess that misses is refused by the shell, harmlessly.
constexpr wchar_t kTrayWindowClass[] = L"TrayIconMessageWindowClass";
constexpr UINT kQtTrayIconId = 0;

// Only on Qt's Windows platform is a window id a window handle (not on the offscreen one, say).
bool windowIdsAreHandles()
{
    return QGuiApplication::platformName() == QLatin1String("windows");
}

BOOL CALLBACK collectTrayWindow(HWND window, LPARAM found)
{
    wchar_t name[256];
    if (GetClassNameW(window, name, 256) > 0 && std::wcsstr(name, kTrayWindowClass))
        reinterpret_cast<std::vector<HWND> *>(found)->push_back(window);
    return TRUE;
}

// Said once a run: a menu opened many times would otherwise repeat it.
void sayOnce(bool &said, const char *what)
{
    if (!std::exchange(said, true))
        qCInfo(lcTray) << what;
}

} // namespace

void TrayMenuFocus::takeForeground(QWidget *menu)
{
    if (!menu || !windowIdsAreHandles())
        return;
    // winId() makes the menu's native window now, as its first show would. Hidden, it takes the
    // foreground all the same, as Qt's hidden tray window does for Qt's own menu: the shell lets the
    // icon's owner take it while it answers a click on the icon.
    static bool said = false;
    if (!SetForegroundWindow(reinterpret_cast<HWND>(menu->winId())))
        sayOnce(said, "the tray menu was refused the foreground");
}

void TrayMenuFocus::returnToNotificationArea()
{
    if (!windowIdsAreHandles())
        return;
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), collectTrayWindow, reinterpret_cast<LPARAM>(&found));
    static bool said = false;
    // The program has one icon: with any other count, which icon is ours is not known for sure.
    if (found.size() != 1) {
        sayOnce(said, "the keyboard stays where it is: the tray icon's window was not found");
        return;
    }
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof(icon);
    icon.hWnd = found.front();
    icon.uID = kQtTrayIconId;
    if (!Shell_NotifyIconW(NIM_SETFOCUS, &icon))
        sayOnce(said, "the notification area did not take the keyboard back");
}
