// Windows: the local application data, which is the user's own; the folder named by its file
// identity; the pipe judged by its server's process; the foreground handed over.
#include "app/instanceplace.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

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

QString InstancePlace::folderIdentity(const QString &folder)
{
    // A path as typed keeps its letter case, its 8.3 short names and its subst or mapped drive
    // letter, and the program's own path (GetModuleFileName) comes in whatever form it was started
    // with. The file system's identity of the folder (its volume and its file ID) is one for all of
    // them.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(folder).utf16()),
                                      FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return QString();
    QString identity;
    // FileIdInfo (Windows 8 and later) holds the 128-bit IDs of ReFS; the older record, 64 bits.
    FILE_ID_INFO id{};
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        identity = QStringLiteral("volume %1 file %2")
                       .arg(id.VolumeSerialNumber, 16, 16, QLatin1Char('0'))
                       .arg(QString::fromLatin1(
                           QByteArray(reinterpret_cast<const char *>(id.FileId.Identifier), sizeof id.FileId.Identifier)
                               .toHex()));
    } else if (GetFileInformationByHandle(handle, &info)) {
        identity = QStringLiteral("volume %1 file %2%3")
                       .arg(info.dwVolumeSerialNumber, 8, 16, QLatin1Char('0'))
                       .arg(info.nFileIndexHigh, 8, 16, QLatin1Char('0'))
                       .arg(info.nFileIndexLow, 8, 16, QLatin1Char('0'));
    }
    CloseHandle(handle);
    return identity;
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
