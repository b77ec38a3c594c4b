#pragma once

#include <QString>

// What the window needs of the desktop beyond its own widgets: a modal message box, ending the
// program, and the executable's directory. Tests hand in a recording fake so nothing ever blocks
// on a dialog or really ends the test process.
class DesktopServices
{
public:
    enum class Icon { None, Stop };

    virtual ~DesktopServices() = default;

    // Modal; returns when the user has dismissed it. The title is the program's own name.
    virtual void messageBox(const QString &text, Icon icon) = 0;
    // Ends the program: the event loop returns as soon as the current handler has finished and
    // the window runs no further handler.
    virtual void endProgram(int exitCode) = 0;
    virtual bool hasEnded() const = 0;
    // The executable's directory, without a trailing separator.
    virtual QString appPath() const = 0;
};
