// The status indicator: picture and Connect button caption from a status code.
#include "app/frmDDNS.h"

#include <QLabel>
#include <QPushButton>

void frmDDNS::ShowServiceStatus(qint32 status)
{
    QString file;
    QString caption;
    switch (status) {
    case STATUS_DISABLED:
        file = QStringLiteral("icon_disabled.gif");
        caption = QStringLiteral("Disabled");
        break;
    case STATUS_ONLINE:
        file = QStringLiteral("icon_online.gif");
        caption = QStringLiteral("Connected");
        break;
    default:
        file = QStringLiteral("icon_offline.gif");
        caption = QStringLiteral("Disconnect");
        break;
    }

    // Read from disk every time, so a replaced icon shows at once. A picture that cannot be loaded
    // leaves the old picture and caption; it is not worth stopping the caller, let alone the program.
    QPixmap picture;
    try {
        picture = LoadPicture(services().appPath() + QStringLiteral("/icons/") + file);
    } catch (const VbError &) {
        return;
    }
    imgStatus->setPixmap(picture);
    cmdConnect->setText(caption);
}
