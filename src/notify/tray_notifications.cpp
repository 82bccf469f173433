#include "notify/tray_notifications.h"

void TrayNotifications::messageClicked()
{
    emit openPanelRequested();
}

void TrayNotifications::show(const Notice &notice)
{
    // Shown without an identifier: nothing can replace or close it later.
    policy().shown(notice.topic, 0);
    emit messageReady(notice.summary, notice.body, notice.urgent);
}

#include "moc_tray_notifications.cpp"
