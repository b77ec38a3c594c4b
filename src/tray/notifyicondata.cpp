#include "tray/notifyicondata.h"

#include <algorithm>

QString NOTIFYICONDATA::tip() const
{
    const auto end = std::find(szTip.begin(), szTip.end(), '\0');
    return QString::fromLocal8Bit(szTip.data(), end - szTip.begin());
}
