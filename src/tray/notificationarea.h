#pragma once

#include "tray/notifyicondata.h"

#include <QObject>

// The desktop's notification area. Activations of the icon arrive as the shell's mouse message
// numbers, which the window receives as the x argument of its mouse-move handler.
class NotificationArea : public QObject
{
    Q_OBJECT
public:
    enum Operation { NIM_ADD = 0, NIM_DELETE = 2 };

    using QObject::QObject;

    // Adding an icon that is present, or deleting one that is absent, is refused and changes nothing.
    virtual bool Shell_NotifyIcon(Operation operation, const NOTIFYICONDATA &nid) = 0;
    // Whether the desktop has a notification area at all.
    virtual bool isAvailable() const = 0;
    virtual bool isIconPresent() const = 0;

signals:
    void notification(quint32 uID, int mouseMessage);
    // The desktop's notification area appeared or went away; raised on each change, never twice for
    // the same state. An icon goes with the area: when it goes away, isIconPresent() is false and a
    // later NIM_ADD, once an area is back, really adds the icon again.
    void availabilityChanged(bool available);
};
