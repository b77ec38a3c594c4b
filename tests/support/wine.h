#pragma once
// Whether a Windows test program runs under Wine rather than on Windows, so that a test can name a
// difference of Wine's where it meets one. Always false elsewhere.

#if defined(Q_OS_WIN)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

inline bool underWine()
{
#if defined(Q_OS_WIN)
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}
