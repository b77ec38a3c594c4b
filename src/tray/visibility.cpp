// The window's visibility: the tray icon stands in for the hidden window.
#include "app/frmDDNS.h"

#include <QCursor>
#include <QMenu>

void frmDDNS::Form_Resize()
{
    if (WindowState() != vbMinimized)
        return;
    m_tray.Shell_NotifyIcon(NotificationArea::NIM_ADD, nidTray);
    hide();
}

void frmDDNS::Form_QueryUnload(qint16 &Cancel, qint16 UnloadMode)
{
    const int state = WindowState();
    if (UnloadMode == vbFormControlMenu && state != vbMinimized && !blnExiting) {
        setWindowStateValue(vbMinimized);
        Cancel = blnExiting ? 0 : 1;
    }
}

void frmDDNS::Form_MouseMove(qint16 /*Button*/, qint16 /*Shift*/, float X, float /*Y*/)
{
    if (X == static_cast<float>(WM_LBUTTONDBLCLK)) {
        submnuProperty_Click(0);
    } else if (X == static_cast<float>(WM_RBUTTONDOWN)) {
        mnupopup->exec(QCursor::pos());
    }
}

void frmDDNS::submnuProperty_Click(qint16 Index)
{
    if (Index == 0) {
        setWindowStateValue(vbNormal);
        m_tray.Shell_NotifyIcon(NotificationArea::NIM_DELETE, nidTray);
        showNormal();
    } else if (Index == 3) {
        blnExiting = true;
        endNow(0);
    }
}
