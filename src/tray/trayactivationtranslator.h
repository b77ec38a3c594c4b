#pragma once

#include <QSystemTrayIcon>

// Turns Qt's tray activations into the shell's mouse message numbers. The backends differ: the
// XEmbed tray reports a left press as Trigger and the second press of a double-click as
// DoubleClick; the Windows shell reports Trigger for the first click and then DoubleClick;
// StatusNotifierItem hosts have no double-click at all and call Activate (Trigger) once per click.
// Two Triggers within the double-click interval, with no DoubleClick between them, therefore
// count as one double-click, so that every backend yields exactly one 515 per double-click.
class TrayActivationTranslator
{
public:
    explicit TrayActivationTranslator(int doubleClickIntervalMs) : m_interval(doubleClickIntervalMs) {}

    // The shell's number for an activation at the given time (milliseconds, any monotonic base),
    // or 0 when there is nothing to report.
    int mouseMessage(QSystemTrayIcon::ActivationReason reason, qint64 msecs);

private:
    int m_interval;
    bool m_triggerPending = false;
    qint64 m_lastTrigger = 0;
};
