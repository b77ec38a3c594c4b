// Windows: the close box, the control menu's Close and Alt+F4 reach the window as WM_SYSCOMMAND
// SC_CLOSE, which DefWindowProc answers by sending WM_CLOSE at once, from within its handling. Any
// other program (taskkill, End task) sends or posts WM_CLOSE alone. So a WM_CLOSE is the user's
// when the window's message just before it was that command.
#include "app/closeorigin.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

void CloseOrigin::observe(const QByteArray &eventType, const void *message)
{
    if (eventType != "windows_generic_MSG")
        return;
    const auto *msg = static_cast<const MSG *>(message);
    if (msg->message == WM_CLOSE)
        m_lastCloseIsUsers = m_closeCommand;
    // The low four bits of a system command are the system's own.
    m_closeCommand = msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == SC_CLOSE;
}
