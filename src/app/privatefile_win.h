#pragma once
// The Windows answer with the system's calls handed in, so that a test can play a volume that keeps
// no access lists (FAT, exFAT), which Wine has none of, and a system that refuses the list.

#include "app/privatefile.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <aclapi.h>

struct PrivateFileCalls {
    decltype(&::GetVolumeInformationByHandleW) volumeInformation = &::GetVolumeInformationByHandleW;
    decltype(&::SetSecurityInfo) setSecurityInfo = &::SetSecurityInfo;
};

// Gives the open file an access list of its own, protected from its folder's, that allows the user
// this process runs as and SYSTEM and no one else.
PrivateFile::Outcome restrictOnWindows(QSaveFile &file, const PrivateFileCalls &calls = PrivateFileCalls());
