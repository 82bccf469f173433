#pragma once

#include <QLoggingCategory>

// The tray's diagnostics on standard error, filtered by QT_LOGGING_RULES ("tornel.tray.info=false").
Q_DECLARE_LOGGING_CATEGORY(lcTray)
