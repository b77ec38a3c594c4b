#include "core/logging.h"

Q_LOGGING_CATEGORY(lcExchange, "vestrel.exchange", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "vestrel.settings", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTray, "vestrel.tray", QtWarningMsg)
Q_LOGGING_CATEGORY(lcInstance, "vestrel.instance", QtWarningMsg)
