#pragma once
// Whether a close the window system delivered is the user's own, from the window's close box or
// control menu, rather than another program's (taskkill, the task manager's End task). One file per
// system answers it: closeorigin_win.cpp from the window's messages; closeorigin_none.cpp where the
// system cannot tell (X11's WM_DELETE_WINDOW says nothing of who asked), so that every such close
// counts as the user's.

#include <QByteArray>

class CloseOrigin
{
public:
    // Each native message the window receives, as QWidget::nativeEvent hands it over.
    void observe(const QByteArray &eventType, const void *message);
    // Whether the last close the system delivered to the window was the user's own.
    bool lastCloseIsUsers() const { return m_lastCloseIsUsers; }

private:
    // The window's previous message asked to close from the close box or the control menu. Only the
    // Windows file reads it.
    [[maybe_unused]] bool m_closeCommand = false;
    bool m_lastCloseIsUsers = true;
};
