#include "tray/trayactivationtranslator.h"

#include "tray/notifyicondata.h"

int TrayActivationTranslator::mouseMessage(QSystemTrayIcon::ActivationReason reason, qint64 msecs)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        m_triggerPending = false;
        return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::Trigger:
        if (m_triggerPending && msecs - m_lastTrigger <= m_interval) {
            m_triggerPending = false;
            return WM_LBUTTONDBLCLK;
        }
        m_triggerPending = true;
        m_lastTrigger = msecs;
        return WM_LBUTTONUP;
    case QSystemTrayIcon::Context:
        m_triggerPending = false;
        return WM_RBUTTONDOWN;
    case QSystemTrayIcon::MiddleClick:
        m_triggerPending = false;
        return WM_MBUTTONDOWN;
    case QSystemTrayIcon::Unknown:
        break;
    }
    return 0;
}
