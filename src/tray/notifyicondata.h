#pragma once

// The record and the shell's numbers below carry the shell's own names, which <windows.h> defines as
// macros: a file that includes both fails here, rather than with a wall of errors inside the macros.
#if defined(NOTIFYICONDATA) || defined(WM_MOUSEMOVE)
#error "tray/notifyicondata.h names what <windows.h> defines as macros: no file may include both"
#endif

#include <QIcon>
#include <QString>

#include <array>

// The tray record, laid out like the shell's first notify-icon record (88 bytes on its first
// platform). It is filled once at start-up and passed unchanged to add and to delete the icon.
struct NOTIFYICONDATA {
    quint32 cbSize = 0;
    quintptr hWnd = 0;
    quint32 uID = 0;
    quint32 uFlags = 0;
    quint32 uCallbackMessage = 0;
    QIcon hIcon;
    std::array<char, 64> szTip{};

    // The tip up to its terminating NUL.
    QString tip() const;
};

inline constexpr quint32 NIF_MESSAGE = 1;
inline constexpr quint32 NIF_ICON = 2;
inline constexpr quint32 NIF_TIP = 4;
inline constexpr quint32 WM_MOUSEMOVE = 0x200;

// Mouse messages the shell reports for the icon.
inline constexpr int WM_LBUTTONUP = 514;
inline constexpr int WM_LBUTTONDBLCLK = 515;
inline constexpr int WM_RBUTTONDOWN = 516;
inline constexpr int WM_MBUTTONDOWN = 519;
