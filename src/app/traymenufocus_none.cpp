// Elsewhere the platform's popup handling suffices: on X11 Qt grabs the pointer and the keyboard
// for a menu, so it closes on a click elsewhere and hears the keys; the keyboard goes back to where
// it was when the grab ends.
#include "app/traymenufocus.h"

void TrayMenuFocus::takeForeground(QWidget * /*menu*/)
{}

void TrayMenuFocus::returnToNotificationArea()
{}
