#include "tray/tray_logging.h"

Q_LOGGING_CATEGORY(lcTray, "tornel.tray")
