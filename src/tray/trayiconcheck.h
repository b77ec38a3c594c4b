#pragma once
// Whether the icon that Qt added stands in the notification area. Qt takes no notice when the
// system refuses an icon, and its icon says it is visible all the same; only a system that tells
// where an icon stands lets a refused icon be noticed. One file per system answers it
// (trayiconcheck_win.cpp, trayiconcheck_none.cpp).

#include <optional>

class QSystemTrayIcon;

// Whether icon, shown, stands in the notification area; nothing where the system cannot tell.
std::optional<bool> trayIconStands(const QSystemTrayIcon &icon);
