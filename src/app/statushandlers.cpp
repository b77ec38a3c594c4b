// The status indicator: picture and Connect button caption from a status code.
#include "app/frmDDNS.h"
#include "status/servicestatus.h"

#include <QLabel>
#include <QPushButton>

void frmDDNS::ShowServiceStatus(qint32 status)
{
    const StatusLook look = statusLook(status);
    // Read from disk every time, so a replaced icon shows at once. A picture that cannot be loaded
    // leaves the old picture and caption; it is not worth stopping the caller, let alone the program.
    QPixmap picture;
    try {
        picture = LoadPicture(services().appPath() + QStringLiteral("/icons/") + look.pictureFile);
    } catch (const NumberedError &) {
        return;
    }
    imgStatus->setPixmap(picture);
    // Renaming the picture is what tells a screen reader that the status changed.
    imgStatus->setAccessibleName(look.pictureName);
    cmdConnect->setText(look.caption);
}
