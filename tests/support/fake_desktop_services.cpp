#include "fake_desktop_services.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QFile>
#include <QTimer>

namespace {

// The image-data hint (iiibiiay) as an image; null when absent or not 8-bit RGBA.
QImage imageData(const QVariant &hint)
{
    if (!hint.canConvert<QDBusArgument>())
        return {};
    int width, height, stride, bits, channels;
    bool alpha;
    QByteArray bytes;
    const QDBusArgument data = hint.value<QDBusArgument>();
    data.beginStructure();
    data >> width >> height >> stride >> alpha >> bits >> channels >> bytes;
    data.endStructure();
    if (!alpha || bits != 8 || channels != 4 || bytes.size() < qsizetype(stride) * height)
        return {};
    return QImage(reinterpret_cast<const uchar *>(bytes.constData()), width, height, stride, QImage::Format_RGBA8888)
        .copy();
}

// Starts a server that prints one line once it serves (Xvfb its display
// number, dbus-daemon its address) and returns that line.
QByteArray startServer(QProcess &server, const QString &command)
{
    server.startCommand(command);
    const QDeadlineTimer deadline(15000);
    while (!server.canReadLine() && server.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return server.readLine().trimmed();
}

} // namespace

bool FakeDesktop::start()
{
    // -displayfd picks a free display.
    qputenv("DISPLAY",
            ':' + startServer(m_xServer, QStringLiteral("Xvfb -displayfd 1 -nolisten tcp -screen 0 640x480x24")));
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            startServer(m_bus, QStringLiteral("dbus-daemon --session --nofork --print-address=1")));
    QDBusConnection bus = QDBusConnection::sessionBus();
    return qgetenv("DISPLAY").size() > 1 && bus.isConnected()
        && bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")) && notifications.serve();
}

QProcessEnvironment FakeDesktop::companionEnvironment() const
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const QString &name : {QStringLiteral("DISPLAY"), QStringLiteral("DBUS_SESSION_BUS_ADDRESS")})
        environment.insert(name, qEnvironmentVariable(qPrintable(name)));
    return environment;
}

bool FakeNotificationServer::serve()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    clock.start();
    return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                              QDBusConnection::ExportAllContents)
        && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
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
    shown.append({{application, icon, hints.value(QStringLiteral("desktop-entry")).toString()},
                  summary,
                  body,
                  actions,
                  replacesId,
                  replacesId ? replacesId : uint(shown.size() + 1),
                  clock.elapsed(),
                  hints.value(QStringLiteral("urgency"), -1).toInt(),
                  expireTimeout,
                  imageData(hints.value(QStringLiteral("image-data")))});
    return uint(shown.last().id);
}

bool FakeSettingsPortal::serve()
{
    return QDBusConnection::sessionBus().registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                                                        QDBusConnection::ExportAllContents);
}

void FakeSettingsPortal::announce(uint scheme)
{
    colorScheme = scheme;
    emit SettingChanged(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
                        QDBusVariant(scheme));
}

bool FakeStatusNotifierWatcher::serve()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this, QDBusConnection::ExportAllContents)
        && bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void FakeStatusNotifierWatcher::stopServing()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
}

bool FakeKWinScripting::serve()
{
    m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-kwin"));
    return m_bus.registerObject(QStringLiteral("/Scripting"), this, QDBusConnection::ExportAllSlots)
        && m_bus.registerService(QStringLiteral("org.kde.KWin"));
}

FakeKWinScripting::~FakeKWinScripting()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-kwin"));
}

int FakeKWinScripting::loadScript(const QString &path, const QString &name)
{
    calls.append(QStringLiteral("load %1 %2").arg(name, path));
    QFile file(path);
    if (loaded.contains(name) || !file.open(QIODevice::ReadOnly))
        return -1;
    scripts.append(file.readAll());
    loaded.insert(name);
    return int(scripts.size());
}

bool FakeKWinScripting::unloadScript(const QString &name)
{
    calls.append(QStringLiteral("unload ") + name);
    // As KWin: the script goes once back in the event loop.
    QTimer::singleShot(0, this, [this, name] { loaded.remove(name); });
    return loaded.contains(name);
}
