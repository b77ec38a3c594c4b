#pragma once
// The log kept in a file as well as where Qt sends it: for a system where Qt's own output goes
// where no user looks (a Windows program without a console writes to the debugger). Each line is
// appended with its time, process and kind, across runs; a file that would pass its cap becomes
// the older file (one is kept, vestrel.old.log beside vestrel.log) and a new one begins.

#include <QString>

class LogFile
{
public:
    static constexpr qint64 kDefaultCap = qint64(1) << 20;

    explicit LogFile(QString path, qint64 cap = kDefaultCap);

    QString path() const { return m_path; }
    // The one older file kept: "name.old.ext" beside "name.ext".
    QString olderPath() const;

    // Appends one line, given without its end. A file that the line would take past the cap is
    // first made the older file; a line longer than the cap is still written whole, to a file of
    // its own. Nothing is written where the folder cannot be.
    void append(const QString &line);

private:
    void rotate();

    QString m_path;
    qint64 m_cap;
};

// From now on every line Qt logs also goes to the file at path (with the cap given), then on to
// the message handler that was there before, so nothing else changes. Installing again moves the
// file; the handler is installed once.
void installLogFile(const QString &path, qint64 cap = LogFile::kDefaultCap);
// Puts back the handler that was there before installLogFile.
void removeLogFile();
