// Unix: the file's mode.
#include "app/privatefile.h"

#include <QSaveFile>

PrivateFile::Outcome PrivateFile::restrict(QSaveFile &file, bool replacing)
{
    // An existing file keeps the mode its owner gave it (the save file carries it over); a new one
    // is readable and writable by its owner alone.
    if (replacing)
        return Outcome::Done;
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ? Outcome::Done : Outcome::Failed;
}
