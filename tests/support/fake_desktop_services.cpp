#include "fake_desktop_services.h"

#include <QDBusConnection>
#include <QDeadlineTimer>

QByteArray startServer(QProcess &server, const QString &command)
{
    server.startCommand(command);
    const QDeadlineTimer deadline(15000);
    while (!server.canReadLine() && server.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return server.readLine().trimmed();
}

bool FakeNotificationServer::serve()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    clock.start();
    return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                              QDBusConnection::ExportAllContents) &&
           bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

QList<FakeNotificationServer::Notification> FakeNotificationServer::about(const QStringList &summaries) const
{
    QList<Notification> found;
    for (const Notification &notification : shown)
        if (summaries.contains(notification.summary))
            found.append(notification);
    return found;
}

uint FakeNotificationServer::Notify(const QString &application, uint replacesId, const QString &icon,
                                    const QString &summary, const QString &body, const QStringList &actions,
                                    const QVariantMap &hints, int expireTimeout)
{
    shown.append({{application, icon, hints.value(QStringLiteral("desktop-entry")).toString()}, summary, body, actions,
                  replacesId, replacesId ? replacesId : uint(shown.size() + 1), clock.elapsed(),
                  hints.value(QStringLiteral("urgency"), -1).toInt(), expireTimeout});
    return uint(shown.last().id);
}

bool FakeStatusNotifierWatcher::serve()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this, QDBusConnection::ExportAllContents) &&
           bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void FakeStatusNotifierWatcher::stopServing()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
}
