#include "core/errors.h"

namespace Err {

VbError fileNotFound(const QString &path)
{
    return VbError(FileNotFound, QStringLiteral("File not found: '%1'").arg(path));
}

VbError invalidPicture(const QString &path)
{
    return VbError(InvalidPicture, QStringLiteral("Invalid picture: '%1'").arg(path));
}

} // namespace Err
