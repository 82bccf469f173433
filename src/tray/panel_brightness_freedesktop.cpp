#include "tray/panel_brightness.h"

#include "tray/x11_tray.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");
constexpr uint colorSchemePrefersDark = 1;

} // namespace

// Whether the settings portal says the user prefers dark windows, followed as it changes.
class PortalColorScheme : public QObject {
    Q_OBJECT
public:
    explicit PortalColorScheme(QObject *parent) : QObject(parent) { watch(); }

    bool prefersDark() const { return m_prefersDark; }

signals:
    void changed();

private slots:
    // A slot by name, so that the bus can call it on the portal's signal.
    void settingChanged(const QString &group, const QString &key, const QDBusVariant &value)
    {
        if (group == appearanceGroup && key == colorSchemeKey)
            take(value.variant());
    }

private:
    void watch()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        // The bus finds the slot's parameter types by name, and QtDBus names
        // its own types only once it first needs them.
        qRegisterMetaType<QDBusVariant>();
        bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                    SLOT(settingChanged(QString,QString,QDBusVariant)));
        QDBusMessage read =
            QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, QStringLiteral("Read"));
        read << appearanceGroup << colorSchemeKey;
        // Not waited for: the bus may first have to start the portal. Until it
        // answers, the icons are drawn to read on any panel.
        auto *pending = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *answer) {
            answer->deleteLater();
            const QDBusPendingReply<QDBusVariant> reply = *answer;
            if (reply.isValid())
                take(reply.value().variant());
        });
    }

    void take(QVariant value)
    {
        // Read wraps the value in one variant more than the signal does.
        while (value.metaType() == QMetaType::fromType<QDBusVariant>())
            value = value.value<QDBusVariant>().variant();
        m_prefersDark = value.toUInt() == colorSchemePrefersDark;
        emit changed();
    }

    bool m_prefersDark = false;
};

PanelBrightness::PanelBrightness(QObject *parent) : QObject(parent)
{
    auto *portal = new PortalColorScheme(this);
    auto *x11Tray = new X11TrayColors(this);
    const auto update = [this, portal, x11Tray] {
        Brightness now = x11Tray->brightness();
        if (now == Brightness::unknown && portal->prefersDark())
            now = Brightness::dark;
        if (now == m_brightness)
            return;
        m_brightness = now;
        emit changed();
    };
    connect(portal, &PortalColorScheme::changed, this, update);
    connect(x11Tray, &X11TrayColors::changed, this, update);
    update();
}

#include "panel_brightness_freedesktop.moc"
#include "moc_panel_brightness.cpp"
