#include "tray/qtnotificationarea.h"

#include "core/logging.h"
#include "tray/statusnotifierwatch.h"
#include "tray/trayiconcheck.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

qint64 monotonicMsecs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

QtNotificationArea::QtNotificationArea(QObject *parent)
    : QtNotificationArea(&QSystemTrayIcon::isSystemTrayAvailable, parent)
{
    if (m_available && followWatcher()) {
        m_poll->stop();
        qCInfo(lcTray) << "following the D-Bus tray's watcher";
    }
}

bool QtNotificationArea::followWatcher()
{
    m_followsWatcher = followStatusNotifierWatcher(this, [this](bool available) { setAvailable(available); });
    return m_followsWatcher;
}

QtNotificationArea::QtNotificationArea(AvailabilityProbe probe, QObject *parent)
    : NotificationArea(parent), m_probe(std::move(probe)), m_poll(new QTimer(this)), m_icon(new QSystemTrayIcon(this)),
      m_translator(QGuiApplication::styleHints()->mouseDoubleClickInterval())
{
    m_available = m_probe();
    m_poll->setInterval(pollIntervalMs);
    connect(m_poll, &QTimer::timeout, this, &QtNotificationArea::pollAvailability);
    m_poll->start();

    m_iconWatch = new QTimer(this);
    m_iconWatch->setInterval(iconCheckIntervalMs);
    const qint64 madeAt = monotonicMsecs();
    connect(m_iconWatch, &QTimer::timeout, this, [this, madeAt] { checkIconStands(monotonicMsecs() - madeAt); });
    setIconCheck(&trayIconStands);

    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        const int message = m_translator.mouseMessage(reason, monotonicMsecs());
        if (message == 0)
            return;
        // Delivered from the event loop, as the shell posts its notification: the window may open
        // a blocking menu on it, which must not run inside Qt's mouse handler of the tray icon or
        // inside a D-Bus method call that the host is waiting on.
        const quint32 uID = m_uID;
        QMetaObject::invokeMethod(
            this, [this, uID, message] { emit notification(uID, message); }, Qt::QueuedConnection);
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
        if (!isAvailable() || m_icon->isVisible())
            return false;
        m_hWnd = nid.hWnd;
        m_uID = nid.uID;
        m_icon->setIcon(nid.hIcon);
        m_icon->setToolTip(nid.tip());
        m_icon->show();
        return true;
    case NIM_DELETE:
        if (!m_icon->isVisible() || nid.hWnd != m_hWnd || nid.uID != m_uID)
            return false;
        m_icon->hide();
        return true;
    }
    return false;
}

bool QtNotificationArea::isAvailable() const
{
    return m_followsWatcher ? m_available : m_probe();
}

void QtNotificationArea::pollAvailability()
{
    setAvailable(m_probe());
}

void QtNotificationArea::setAvailable(bool available)
{
    if (available == m_available)
        return;
    m_available = available;
    if (available) {
        qCInfo(lcTray) << "notification area appeared";
    } else {
        // The icon went with the area; forgetting it here also keeps Qt from docking it again on its
        // own when a tray comes back.
        m_icon->hide();
        qCInfo(lcTray) << "notification area went away";
    }
    emit availabilityChanged(available);
}

bool QtNotificationArea::isIconPresent() const
{
    return m_icon->isVisible();
}

void QtNotificationArea::setIconCheck(IconCheck check)
{
    m_iconCheck = std::move(check);
    // Where the system cannot tell, the area never looks (asked of the icon as it is, shown or not).
    if (m_iconCheck(*m_icon))
        m_iconWatch->start();
    else
        m_iconWatch->stop();
}

void QtNotificationArea::checkIconStands(qint64 msecsSinceStart)
{
    if (!m_iconWatch->isActive())
        return;
    if (msecsSinceStart >= iconWatchMs) {
        m_iconWatch->stop();
        return;
    }
    // Only an icon the window wants in the area: none while the window is open or no area exists.
    if (!m_icon->isVisible())
        return;
    const std::optional<bool> stands = m_iconCheck(*m_icon);
    if (stands.value_or(true)) {
        if (stands)
            qCInfo(lcTray) << "the tray icon stands in the notification area";
        m_iconWatch->stop();
        return;
    }
    // Qt adds its icon anew only when it is shown again: a hidden icon is taken out and forgotten.
    qCWarning(lcTray) << "the notification area does not hold the tray icon; adding it again";
    m_icon->hide();
    m_icon->show();
}
