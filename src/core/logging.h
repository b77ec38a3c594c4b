#pragma once
// The program's log, in Qt's logging categories: one line for each change of state, never one per
// tick. Warnings (real problems) are written by default; the rest is turned on with
// QT_LOGGING_RULES="vestrel.*.info=true". Neither the password nor the cookie is ever written.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcExchange) // vestrel.exchange: connections, socket errors, logins, addresses
Q_DECLARE_LOGGING_CATEGORY(lcSettings) // vestrel.settings: config.dat loaded and saved
Q_DECLARE_LOGGING_CATEGORY(lcTray)     // vestrel.tray: the notification area and the window
Q_DECLARE_LOGGING_CATEGORY(lcInstance) // vestrel.instance: one client per program folder
