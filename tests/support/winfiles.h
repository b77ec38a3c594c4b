#pragma once
// What a Windows test reads back of the system about files, declared without the system's headers,
// which clash with the tray record's names. Built into the Windows tests only.

#include <QString>
#include <QStringList>

// The ANSI code page, in which config.dat's text is written.
unsigned ansiCodePage();

// The user this process runs as, as a SID string ("S-1-5-21-...").
QString currentUserSid();

// A file's access list as the system reads it back (GetNamedSecurityInfoW), each entry as
// "allow|deny|other SID mask", the mask in hex, followed by " flags=N" where the entry has any.
struct FileAccessList {
    bool read = false;        // the system gave a list
    bool isProtected = false; // SE_DACL_PROTECTED: nothing is inherited from the folder
    QStringList entries;
};
FileAccessList fileAccessList(const QString &path);

// The entries of an access list (an ACL) in the same form.
QStringList accessEntries(const void *acl);
