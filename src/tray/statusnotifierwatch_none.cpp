// Without Qt's D-Bus module there is no D-Bus tray to follow.
#include "tray/statusnotifierwatch.h"

bool followStatusNotifierWatcher(QObject * /*owner*/, const std::function<void(bool)> & /*availabilityChanged*/)
{
    return false;
}
