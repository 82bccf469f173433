#include "views/sync_folder_path.h"

QString expandSyncFolder(const QString &folder, const QString &homePath)
{
    if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/")))
        return homePath + folder.mid(1);
    return folder;
}
