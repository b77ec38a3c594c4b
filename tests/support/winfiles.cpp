#include "support/winfiles.h"

#include <QDir>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace {

QString sidString(PSID sid)
{
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return QStringLiteral("?");
    QString result = QString::fromWCharArray(text);
    LocalFree(text);
    return result;
}

} // namespace

QStringList accessEntries(const void *list)
{
    QStringList entries;
    auto *acl = static_cast<ACL *>(const_cast<void *>(list));
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(acl, i, &ace))
            continue;
        const auto *header = static_cast<const ACE_HEADER *>(ace);
        QString entry;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            // Both kinds lay out the mask and the SID alike.
            auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
            entry = QStringLiteral("%1 %2 %3")
                        .arg(header->AceType == ACCESS_ALLOWED_ACE_TYPE ? "allow" : "deny",
                             sidString(&allowed->SidStart), QString::number(allowed->Mask, 16));
        } else {
            entry = QStringLiteral("other type=%1").arg(header->AceType);
        }
        if (header->AceFlags)
            entry += QStringLiteral(" flags=%1").arg(header->AceFlags);
        entries << entry;
    }
    return entries;
}

unsigned ansiCodePage()
{
    return GetACP();
}

QString currentUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return QString();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    const bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    return ok ? sidString(reinterpret_cast<const TOKEN_USER *>(buffer.data())->User.Sid) : QString();
}

FileAccessList fileAccessList(const QString &path)
{
    FileAccessList result;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    if (GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor)
        != ERROR_SUCCESS)
        return result;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    result.read = dacl && GetSecurityDescriptorControl(descriptor, &control, &revision);
    result.isProtected = control & SE_DACL_PROTECTED;
    result.entries = accessEntries(dacl);
    LocalFree(descriptor);
    return result;
}
