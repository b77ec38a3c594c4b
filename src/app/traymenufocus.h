#pragma once
// What the tray menu asks of the system so that it behaves as the shell's own menus do: the
// foreground as it opens, and the keyboard handed back to the notification area after it was
// dismissed from the keyboard. One file per system answers it (traymenufocus_win.cpp;
// traymenufocus_none.cpp where the system's own popup handling already does both).

class QWidget;

namespace TrayMenuFocus {

// Gives the menu's window the foreground before the menu shows. Windows lets only the foreground
// window capture the mouse and hear the keyboard, and a program that was never active is never
// deactivated: opened while the taskbar holds the foreground, the menu would stay open after a
// click elsewhere and ignore Esc and the arrow keys.
void takeForeground(QWidget *menu);

// After Esc dismissed the menu, hands the keyboard back to the notification area, so that someone
// working from the keyboard goes on from the icon they opened it on.
void returnToNotificationArea();

} // namespace TrayMenuFocus
