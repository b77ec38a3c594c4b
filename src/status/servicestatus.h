#pragma once
// What a service status code looks like: the status picture, the picture in words, and the Connect
// button's caption.

#include <QString>
#include <QtGlobal>

inline constexpr qint32 STATUS_DISABLED = 0;
inline constexpr qint32 STATUS_OFFLINE = 1;
inline constexpr qint32 STATUS_ONLINE = 2;

struct StatusLook {
    QString pictureFile; // a file name in icons/ beside the program
    QString pictureName; // what the picture says, as assistive technology reads it
    QString caption;     // of the Connect button

    friend bool operator==(const StatusLook &, const StatusLook &) = default;
};

// Any code other than STATUS_DISABLED and STATUS_ONLINE looks like STATUS_OFFLINE.
StatusLook statusLook(qint32 status);
