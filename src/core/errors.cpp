#include "core/errors.h"

namespace Err {

NumberedError fileNotFound(const QString &path)
{
    return NumberedError(FileNotFound, QStringLiteral("File not found: '%1'").arg(path));
}

NumberedError invalidPicture(const QString &path)
{
    return NumberedError(InvalidPicture, QStringLiteral("Invalid picture: '%1'").arg(path));
}

} // namespace Err
