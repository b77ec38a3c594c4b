#include "status/servicestatus.h"

StatusLook statusLook(qint32 status)
{
    switch (status) {
    case STATUS_DISABLED:
        return {QStringLiteral("icon_disabled.gif"), QStringLiteral("Disabled"), QStringLiteral("Disabled")};
    case STATUS_ONLINE:
        return {QStringLiteral("icon_online.gif"), QStringLiteral("Online"), QStringLiteral("Connected")};
    default:
        return {QStringLiteral("icon_offline.gif"), QStringLiteral("Offline"), QStringLiteral("Disconnect")};
    }
}
