#pragma once
// Whether a Windows test program runs under Wine rather than on Windows, so that a test can name a
// difference of Wine's where it meets one. Always false elsewhere. Declared without the system's
// headers, which clash with the tray record's names.

bool underWine();
