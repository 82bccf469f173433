#pragma once

#include <QString>

// The folder text of the daemon with a leading "~" (alone or before "/")
// replaced by `homePath`. A tilde anywhere else is part of a name, as in
// "/data/backup~1", and stays. Nothing else is expanded or normalised.
QString expandSyncFolder(const QString &folder, const QString &homePath);
