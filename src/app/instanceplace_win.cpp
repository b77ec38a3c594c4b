// Windows: the local application data, which is the user's own; the folder named as the file system
// names it; the pipe judged by its server's process; the foreground handed over.
#include "app/instanceplace_win.h"
#include "app/instanceplace.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

QString InstancePlace::defaultPlace()
{
    // The local, not the roaming, application data: a lock must not travel to another machine.
    const QString local = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (local.isEmpty() || !QDir(local).mkpath(QStringLiteral("Vestrel")))
        return QString();
    return QDir(local).filePath(QStringLiteral("Vestrel"));
}

bool InstancePlace::ownedByUs(const QString & /*path*/)
{
    // The folder is in the user's profile, which no other user can write to.
    return true;
}

QString InstancePlace::extendedPath(const QString &folder)
{
    QString native = QDir::toNativeSeparators(folder);
    if (native.startsWith(QLatin1String("\\\\?\\")))
        return native;
    const QString full = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    if (full.startsWith(QLatin1String("\\\\")))
        return QLatin1String("\\\\?\\UNC\\") + full.mid(2);
    return QLatin1String("\\\\?\\") + full;
}

QString InstancePlace::folderIdentity(const QString &folder)
{
    // A path as typed keeps its letter case, its 8.3 short names and its subst or mapped drive
    // letter, and the program's own path (GetModuleFileName) comes in whatever form it was started
    // with. The file system's own name for the open folder is one for all of them: its long names,
    // on the volume itself (by its GUID, whatever letters lead to it; a network share has none and
    // is named by its UNC path), folded to one case as Windows compares names. A file ID would do
    // too, but a share may answer none, and Wine reuses a deleted folder's at once. Opened in the
    // extended form, so that a folder deeper than MAX_PATH is named so too (the program declares
    // itself longPathAware, but Windows honours that only where the system allows long paths).
    const QString extended = extendedPath(folder);
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(extended.utf16()), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return QString();
    QString identity;
    for (const DWORD volume : {DWORD(VOLUME_NAME_GUID), DWORD(VOLUME_NAME_DOS)}) {
        wchar_t name[MAX_PATH];
        const DWORD flags = FILE_NAME_NORMALIZED | volume;
        DWORD length = GetFinalPathNameByHandleW(handle, name, MAX_PATH, flags);
        if (length >= MAX_PATH) {
            std::wstring longer(length, L'\0');
            length = GetFinalPathNameByHandleW(handle, longer.data(), length, flags);
            if (length > 0 && length < longer.size())
                identity = QString::fromWCharArray(longer.data(), int(length));
        } else if (length > 0) {
            identity = QString::fromWCharArray(name, int(length));
        }
        if (!identity.isEmpty())
            break;
    }
    CloseHandle(handle);
    return identity.toCaseFolded();
}

bool InstancePlace::servedByHolder(QLocalSocket &socket, qint64 holder)
{
    // Pipe names are one name space for the whole machine, and the user-only access list applies
    // only where this program made the pipe: anyone may have made one of this name first.
    ULONG server = 0;
    const auto pipe = reinterpret_cast<HANDLE>(socket.socketDescriptor());
    return holder > 0 && GetNamedPipeServerProcessId(pipe, &server) && qint64(server) == holder;
}

void InstancePlace::letHolderTakeForeground(qint64 holder)
{
    // The running client is a background process, which Windows keeps from taking the foreground:
    // its window would open behind the user's or only flash on the taskbar. This start, made by the
    // user, may hand its right over.
    if (holder > 0)
        AllowSetForegroundWindow(DWORD(holder));
}
