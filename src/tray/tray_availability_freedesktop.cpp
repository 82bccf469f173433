#include "tray/tray_availability.h"

#include "tray/x11_tray.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
// A watcher that hangs must not hold up the companion for D-Bus's default 25 s.
constexpr int queryTimeoutMs = 2000;

// Whether the session bus has a StatusNotifierItem watcher with a registered
// host (the panel that draws the items).
bool statusNotifierHostRegistered()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, queryTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

} // namespace

// Whether a StatusNotifierItem host is registered on the session bus, and when one comes.
class StatusNotifierHost : public QObject {
    Q_OBJECT
public:
    explicit StatusNotifierHost(QObject *parent) : QObject(parent)
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        auto *serviceWatcher =
            new QDBusServiceWatcher(watcherService, bus, QDBusServiceWatcher::WatchForRegistration, this);
        connect(serviceWatcher, &QDBusServiceWatcher::serviceRegistered, this, &StatusNotifierHost::recheck);
        // The watcher may be up before the panel registers as its host.
        bus.connect(QString(), watcherPath, watcherInterface, QStringLiteral("StatusNotifierHostRegistered"), this,
                    SLOT(recheck()));
        m_registered = statusNotifierHostRegistered();
    }

    bool isRegistered() const { return m_registered; }

signals:
    // Once, when a host registers after construction.
    void registered();

private slots:
    // A slot by name, so that the bus can call it on the watcher's signal.
    void recheck()
    {
        if (m_registered || !statusNotifierHostRegistered())
            return;
        m_registered = true;
        emit registered();
    }

private:
    bool m_registered = false;
};

TrayAvailability::TrayAvailability(QObject *parent) : QObject(parent)
{
    auto *host = new StatusNotifierHost(this);
    auto *x11Tray = new X11TraySelection(this);
    m_available = host->isRegistered() || x11Tray->isOwned();
    const auto appeared = [this] {
        if (m_available)
            return;
        m_available = true;
        emit trayAvailable();
    };
    connect(host, &StatusNotifierHost::registered, this, appeared);
    connect(x11Tray, &X11TraySelection::ownerAppeared, this, appeared);
}

#include "tray_availability_freedesktop.moc"
#include "moc_tray_availability.cpp"
