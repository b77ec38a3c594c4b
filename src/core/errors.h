#pragma once

#include <QString>

#include <exception>
#include <utility>

// The one error type of the program: a number and a description, as the user is shown them.
// Steps that fail throw it; callers either skip the step (StepSkipper) or let it travel to the
// dispatch boundary of the window, which reports it and ends the program.
class NumberedError : public std::exception
{
public:
    NumberedError(int number, QString description)
        : m_number(number), m_description(std::move(description)), m_what(m_description.toUtf8())
    {}

    int number() const noexcept { return m_number; }
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};

// Error numbers a user of such a program knows, with their usual texts.
namespace Err {
inline constexpr int FileNotFound = 53;
inline constexpr int BadFileMode = 54;
inline constexpr int DeviceIo = 57;
inline constexpr int DiskFull = 61;
inline constexpr int InputPastEnd = 62;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccess = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int InvalidPicture = 481;
inline constexpr int WrongProtocolState = 40006;
inline constexpr int InvalidOperationAtState = 40020;

NumberedError fileNotFound(const QString &path);
NumberedError invalidPicture(const QString &path);
} // namespace Err

// Step-skipping mode: every step is attempted; a step that throws does nothing more, the failure
// is remembered and the next step runs. Checkpoints ask whether anything failed since the start.
class StepSkipper
{
public:
    template <typename Step> void operator()(Step &&step) noexcept
    {
        try {
            std::forward<Step>(step)();
        } catch (const NumberedError &e) {
            remember(e.number(), e.description());
        } catch (const std::exception &e) {
            remember(0, QString::fromLocal8Bit(e.what()));
        }
    }

    bool failed() const noexcept { return m_failed; }
    int lastNumber() const noexcept { return m_lastNumber; }
    const QString &lastDescription() const noexcept { return m_lastDescription; }

private:
    void remember(int number, const QString &description) noexcept
    {
        m_failed = true;
        m_lastNumber = number;
        m_lastDescription = description;
    }

    bool m_failed = false;
    int m_lastNumber = 0;
    QString m_lastDescription;
};
