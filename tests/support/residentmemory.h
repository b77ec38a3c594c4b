#pragma once
// The process's resident memory (the working set on Windows) in bytes, or -1 where it cannot be
// read. Declared without the system's headers, which clash with the tray record's names.

#include <QtGlobal>

qint64 residentBytes();
