#pragma once

#include <QString>

// The daemon's diagnostics: one line per write, so an echoing supervisor
// never sees two lines interleaved or one line torn.
void simLog(const QString &line);
// Start-up failures, on standard error.
void simError(const QString &line);
