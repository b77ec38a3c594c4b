#include "core/logfile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <memory>
#include <utility>

LogFile::LogFile(QString path, qint64 cap) : m_path(std::move(path)), m_cap(cap)
{}

QString LogFile::olderPath() const
{
    const QFileInfo info(m_path);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".old.") + info.suffix());
}

void LogFile::append(const QString &line)
{
    // Text mode ends the line as the system does (CR LF on Windows, for its editors).
    const QByteArray bytes = line.toUtf8() + '\n';
    const qint64 size = QFileInfo(m_path).size();
    if (size > 0 && size + bytes.size() > m_cap)
        rotate();
    // Opened for each line and closed again: another start of the program appends to the same file,
    // the user may move or delete it at any time, and a line is on disk before the program goes on.
    QFile file(m_path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        file.write(bytes);
}

void LogFile::rotate()
{
    const QString older = olderPath();
    QFile::remove(older);
    if (QFile::rename(m_path, older))
        return;
    // The older file cannot be replaced (held open, or not a file): the current one starts afresh
    // rather than grow without end.
    QFile::resize(m_path, 0);
}

namespace {

QMutex g_mutex;
std::unique_ptr<LogFile> g_file;
QtMessageHandler g_previous = nullptr;

const char *kindOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "";
}

void toFileAndOn(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageHandler previous = nullptr;
    {
        const QMutexLocker lock(&g_mutex);
        previous = g_previous;
        if (g_file) {
            // The line as Qt would print it (QT_MESSAGE_PATTERN holds), after the time, the process
            // (another start may write to the same file) and the kind.
            g_file->append(QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + u' '
                           + QString::number(QCoreApplication::applicationPid()) + u' ' + QLatin1String(kindOf(type))
                           + u' ' + qFormatLogMessage(type, context, message));
        }
    }
    // Qt answers a message logged from within a handler itself, so a failing write cannot loop.
    if (previous)
        previous(type, context, message);
}

} // namespace

void installLogFile(const QString &path, qint64 cap)
{
    const QMutexLocker lock(&g_mutex);
    g_file = std::make_unique<LogFile>(path, cap);
    if (!g_previous)
        g_previous = qInstallMessageHandler(toFileAndOn);
}

void removeLogFile()
{
    const QMutexLocker lock(&g_mutex);
    if (g_previous)
        qInstallMessageHandler(std::exchange(g_previous, nullptr));
    g_file.reset();
}
