#pragma once
// Where the log is kept besides Qt's own output. One file per system answers it: a Windows program
// without a console has its lines sent to the debugger, where no user sees them, so Windows keeps
// them in a file as well, beside the one-instance lock (logplace_win.cpp); elsewhere Qt's own output
// is where the user looks, a terminal or the session's journal (logplace_none.cpp).

#include <QString>

namespace LogPlace {

// Starts keeping the log where this system needs it. Returns the file it goes to; empty for none.
QString start();

} // namespace LogPlace
