// Windows: the shell says where an icon stands (Shell_NotifyIconGetRect), and fails for one it
// does not hold, as after a refused NIM_ADD.
#include "tray/trayiconcheck.h"

#include <QSystemTrayIcon>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>

namespace {

// Whether the shell answers the question at all: Wine's shell does not implement it (E_NOTIMPL
// for every icon), and there no icon would ever be seen standing. Asked once, of an icon that
// cannot exist (no window).
bool shellLocatesIcons()
{
    static const bool locates = [] {
        NOTIFYICONIDENTIFIER nobody{};
        nobody.cbSize = sizeof nobody;
        RECT rect{};
        return Shell_NotifyIconGetRect(&nobody, &rect) != E_NOTIMPL;
    }();
    return locates;
}

} // namespace

std::optional<bool> trayIconStands(const QSystemTrayIcon &icon)
{
    if (!shellLocatesIcons())
        return std::nullopt;
    // Qt asks the shell for its own icon (Shell_NotifyIconGetRect on its window and id) and answers
    // an empty rectangle where the shell has none.
    return !icon.geometry().isEmpty();
}
