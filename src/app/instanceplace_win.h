#pragma once
// How the Windows file names a folder to the system, apart from the calls, so that a test can check
// every form a path may come in.

#include <QString>

namespace InstancePlace {

// The folder's path in the extended form (\\?\C:\..., \\?\UNC\server\share\...), in which Windows
// opens a path of any length, not only those within MAX_PATH (260 characters). Windows takes such a
// path as it is: absolute, with backslashes, nothing left to resolve (no . or ..).
QString extendedPath(const QString &folder);

} // namespace InstancePlace
