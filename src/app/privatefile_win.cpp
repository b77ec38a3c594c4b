// Windows: the file's own access list. Qt's permissions only set the read-only attribute there
// (qfilesystemengine_win.cpp), so a new file takes its folder's list: unpacked into C:\Tools or onto
// a second drive, every local user could read the password.
#include "app/privatefile_win.h"
#include "core/logging.h"

#include <QDir>
#include <QSaveFile>

#include <io.h>

#include <vector>

namespace {

// The user this process runs as.
std::vector<BYTE> currentUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    const bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    if (!ok)
        return {};
    const PSID user = reinterpret_cast<const TOKEN_USER *>(buffer.data())->User.Sid;
    std::vector<BYTE> sid(GetLengthSid(user));
    if (!CopySid(DWORD(sid.size()), sid.data(), user))
        return {};
    return sid;
}

// Full control for the user and for SYSTEM (backups, the indexer), nothing for anyone else.
std::vector<BYTE> userAndSystemOnly(std::vector<BYTE> &user)
{
    std::vector<BYTE> system(SECURITY_MAX_SID_SIZE);
    DWORD systemSize = DWORD(system.size());
    if (user.empty() || !CreateWellKnownSid(WinLocalSystemSid, nullptr, system.data(), &systemSize))
        return {};
    const DWORD size = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + GetLengthSid(user.data())
                       + GetLengthSid(system.data());
    std::vector<BYTE> list(size);
    auto *acl = reinterpret_cast<PACL>(list.data());
    if (!InitializeAcl(acl, size, ACL_REVISION) || !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user.data())
        || !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system.data()))
        return {};
    return list;
}

// What a file system without access lists answers when asked to keep one.
bool meansNoListsKept(DWORD error)
{
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

} // namespace

PrivateFile::Outcome restrictOnWindows(QSaveFile &file, const PrivateFileCalls &calls)
{
    using Outcome = PrivateFile::Outcome;
    const QString name = QDir::toNativeSeparators(file.fileName());
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    if (handle == INVALID_HANDLE_VALUE) {
        qCWarning(lcSettings, "cannot make %s private: the new file has no handle", qUtf8Printable(name));
        return Outcome::Failed;
    }
    DWORD flags = 0;
    if (calls.volumeInformation(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)
        && !(flags & FILE_PERSISTENT_ACLS)) {
        qCWarning(lcSettings,
                  "%s is on a file system that keeps no access rights (FAT, exFAT): anyone who can "
                  "read its folder can read the password",
                  qUtf8Printable(name));
        return Outcome::NotKept;
    }

    std::vector<BYTE> user = currentUserSid();
    std::vector<BYTE> list = userAndSystemOnly(user);
    if (list.empty()) {
        qCWarning(lcSettings, "cannot make %s private: no access list for this user (error %lu)", qUtf8Printable(name),
                  GetLastError());
        return Outcome::Failed;
    }
    // Qt's handle may write the file but not its access list (it was opened without WRITE_DAC): a
    // second handle that may, on the same file, whatever name it has. The file's creator is its
    // owner, who may always change its list.
    const HANDLE writable =
        ReOpenFile(handle, READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    DWORD error = ERROR_SUCCESS;
    if (writable == INVALID_HANDLE_VALUE) {
        error = GetLastError();
    } else {
        // Protected: the folder's entries are not inherited, now or when the rename moves it.
        error = calls.setSecurityInfo(writable, SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      reinterpret_cast<PACL>(list.data()), nullptr);
        CloseHandle(writable);
    }
    if (error == ERROR_SUCCESS)
        return Outcome::Done;
    if (meansNoListsKept(error)) {
        qCWarning(lcSettings,
                  "%s is on a file system that keeps no access rights (error %lu): anyone who can read "
                  "its folder can read the password",
                  qUtf8Printable(name), error);
        return Outcome::NotKept;
    }
    qCWarning(lcSettings, "cannot make %s private (error %lu)", qUtf8Printable(name), error);
    return Outcome::Failed;
}

PrivateFile::Outcome PrivateFile::restrict(QSaveFile &file, bool /*replacing*/)
{
    // Every save: the file it replaces may have been made by hand, or unpacked with its folder's list.
    return restrictOnWindows(file);
}
