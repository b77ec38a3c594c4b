// Elsewhere the answer is not to be had from Qt: an XEmbed icon is a window of its own, 22 x 22
// whether a tray has docked it or not, and a D-Bus tray tells no position at all. Nor is it needed
// there: a tray that comes or goes is followed by the area, and Qt's XEmbed icon docks by itself
// into a tray that appears.
#include "tray/trayiconcheck.h"

std::optional<bool> trayIconStands(const QSystemTrayIcon & /*icon*/)
{
    return std::nullopt;
}
