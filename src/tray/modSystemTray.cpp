#include "tray/modSystemTray.h"

#include <QSystemTrayIcon>

#include <algorithm>

QString NOTIFYICONDATA::tip() const
{
    const auto end = std::find(szTip.begin(), szTip.end(), '\0');
    return QString::fromLocal8Bit(szTip.data(), end - szTip.begin());
}

QtNotificationArea::QtNotificationArea(QObject *parent)
    : NotificationArea(parent), m_icon(new QSystemTrayIcon(this))
{
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        switch (reason) {
        case QSystemTrayIcon::DoubleClick:
            emit notification(m_uID, WM_LBUTTONDBLCLK);
            break;
        case QSystemTrayIcon::Context:
            emit notification(m_uID, WM_RBUTTONDOWN);
            break;
        case QSystemTrayIcon::Trigger:
            emit notification(m_uID, WM_LBUTTONUP);
            break;
        default:
            break;
        }
    });
}

QtNotificationArea::~QtNotificationArea()
{
    m_icon->hide();
}

bool QtNotificationArea::Shell_NotifyIcon(Operation operation, const NOTIFYICONDATA &nid)
{
    switch (operation) {
    case NIM_ADD:
        if (m_icon->isVisible())
            return false;
        m_uID = nid.uID;
        m_icon->setIcon(nid.hIcon);
        m_icon->setToolTip(nid.tip());
        m_icon->show();
        return true;
    case NIM_DELETE:
        if (!m_icon->isVisible() || nid.uID != m_uID)
            return false;
        m_icon->hide();
        return true;
    case NIM_MODIFY:
        if (!m_icon->isVisible())
            return false;
        m_icon->setIcon(nid.hIcon);
        m_icon->setToolTip(nid.tip());
        return true;
    }
    return false;
}

bool QtNotificationArea::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool QtNotificationArea::isIconPresent() const
{
    return m_icon->isVisible();
}
