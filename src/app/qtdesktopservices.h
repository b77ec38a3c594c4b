#pragma once

#include "app/desktopservices.h"

class QtDesktopServices final : public DesktopServices
{
public:
    void messageBox(const QString &text, Icon icon) override;
    void endProgram(int exitCode) override;
    bool hasEnded() const override { return m_ended; }
    int exitCode() const { return m_exitCode; }
    QString appPath() const override;

private:
    bool m_ended = false;
    int m_exitCode = 0;
};
