#include "notify/desktop_notifications.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QLoggingCategory>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <utility>

namespace {

Q_LOGGING_CATEGORY(lcNotify, "tornel.notify")

const QString notificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");
// A server that never answers must not keep a notice in flight for D-Bus's default 25 s.
constexpr int callTimeoutMs = 5000;
// The urgency hint's levels; a byte on the bus.
enum class Urgency : uchar { low, normal, critical };
// The reason NotificationClosed gives for a close by the user.
constexpr uint closedByUser = 2;
// Asks the server to keep a notification until it is closed.
constexpr qint32 neverExpire = 0;
constexpr qint32 serverDefaultExpiry = -1;

QDBusMessage notificationsCall(const QString &method)
{
    return QDBusMessage::createMethodCall(notificationsService, notificationsPath, notificationsService, method);
}

// Tornel's icon as pixels, for a server that cannot find it by name.
struct IconPixels {
    QImage image;
};

// The image-data hint: width, height, row stride, alpha, bits per sample,
// channels, then the rows of RGBA bytes, not premultiplied (iiibiiay).
QDBusArgument &operator<<(QDBusArgument &argument, const IconPixels &pixels)
{
    const QImage &image = pixels.image;
    argument.beginStructure();
    argument << image.width() << image.height() << int(image.bytesPerLine()) << true << 8 << 4
             << QByteArray(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
    argument.endStructure();
    return argument;
}

// Registration asks for a reader too; no server sends Tornel an image.
const QDBusArgument &operator>>(const QDBusArgument &argument, IconPixels &)
{
    return argument;
}

// Drawn once, at a size servers show without scaling up.
const QImage &iconPixels()
{
    static const QImage image = [] {
        constexpr int side = 64;
        QImage drawn(side, side, QImage::Format_ARGB32_Premultiplied);
        drawn.fill(Qt::transparent);
        QPainter painter(&drawn);
        QSvgRenderer(QStringLiteral(":/icons/org.tornel.Tornel.svg")).render(&painter);
        painter.end();
        return drawn.convertToFormat(QImage::Format_RGBA8888);
    }();
    return image;
}

} // namespace

Q_DECLARE_METATYPE(IconPixels)

DesktopNotifications::DesktopNotifications(QObject *parent) : Notifications(parent)
{
    qDBusRegisterMetaType<IconPixels>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(notificationsService, notificationsPath, notificationsService, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(notificationsService, notificationsPath, notificationsService, QStringLiteral("NotificationClosed"),
                this, SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifications::takeBack(quint32 id)
{
    QDBusMessage close = notificationsCall(QStringLiteral("CloseNotification"));
    close << id;
    QDBusConnection::sessionBus().send(close);
}

void DesktopNotifications::show(const Notice &notice)
{
    // Asked each time: the server may have been replaced since the last notice.
    call(
        notificationsCall(QStringLiteral("GetCapabilities")),
        [this, notice](QDBusPendingCallWatcher &reply) { send(notice, QDBusPendingReply<QStringList>(reply).value()); },
        [this, topic = notice.topic] { policy().shown(topic, 0); });
}

void DesktopNotifications::send(const Notice &notice, const QStringList &capabilities)
{
    QStringList actions;
    if (capabilities.contains(QStringLiteral("actions"))) {
        // "default" is the click on the notification itself.
        actions << QStringLiteral("default") << tr("Open Tornel");
        if (notice.action == Notice::Action::retrySync)
            actions << QStringLiteral("retry") << tr("Retry Sync");
        else if (notice.action == Notice::Action::restartService)
            actions << QStringLiteral("restart") << tr("Restart Sync Service");
    }
    // A server that reads markup would take "<" or "&" in a daemon's message for markup.
    const bool readsMarkup = capabilities.contains(QStringLiteral("body-markup"));
    const QString body = readsMarkup ? notice.body.toHtmlEscaped() : notice.body;
    // The desktop entry's name is also the installed icon's.
    const QString appId = QGuiApplication::desktopFileName();
    QVariantMap hints{
        {QStringLiteral("desktop-entry"), appId},
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(notice.urgent ? Urgency::critical : Urgency::normal))},
    };
    // Run from the build tree the icon is not installed, and the server would
    // show a placeholder: it gets the icon's pixels instead.
    if (!QIcon::hasThemeIcon(appId))
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(IconPixels{iconPixels()}));
    // Trouble stays until it is over or the user closes it, so its action stays at hand.
    const bool keep = notice.urgent || notice.action != Notice::Action::none;
    QDBusMessage notify = notificationsCall(QStringLiteral("Notify"));
    notify << QCoreApplication::applicationName() << notice.replacesId << appId << notice.summary << body << actions
           << hints << (keep ? neverExpire : serverDefaultExpiry);
    call(
        notify,
        [this, topic = notice.topic](QDBusPendingCallWatcher &reply) {
            policy().shown(topic, QDBusPendingReply<uint>(reply).value());
        },
        [this, topic = notice.topic] { policy().shown(topic, 0); });
}

void DesktopNotifications::call(const QDBusMessage &message, std::function<void(QDBusPendingCallWatcher &)> onReply,
                                std::function<void()> onFailure)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    // Without a bus the pending call would never finish.
    if (!bus.isConnected()) {
        reportOnce(bus.lastError());
        onFailure();
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, onReply = std::move(onReply), onFailure = std::move(onFailure)](QDBusPendingCallWatcher *call) {
                call->deleteLater();
                if (call->isError()) {
                    reportOnce(call->error());
                    onFailure();
                    return;
                }
                onReply(*call);
            });
}

void DesktopNotifications::reportOnce(const QDBusError &error)
{
    if (std::exchange(m_reported, true))
        return;
    qCWarning(lcNotify, "cannot show desktop notifications: %s", qPrintable(error.message()));
}

void DesktopNotifications::actionInvoked(uint id, const QString &actionKey)
{
    if (!policy().isOurs(id))
        return;
    if (actionKey == u"retry")
        emit retryRequested();
    else if (actionKey == u"restart")
        emit restartServiceRequested();
    else if (actionKey == u"default")
        emit openPanelRequested();
}

void DesktopNotifications::notificationClosed(uint id, uint reason)
{
    policy().closed(id, reason == closedByUser);
}

#include "moc_desktop_notifications.cpp"
