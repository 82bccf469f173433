#include "tray/desktop_color_scheme.h"

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

SchemePreference preferenceOf(QVariant value)
{
    // Read wraps the value in one variant more than the signal does.
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    switch (value.toUInt()) {
    case 1:
        return SchemePreference::dark;
    case 2:
        return SchemePreference::light;
    default:
        return SchemePreference::none;
    }
}

} // namespace

// The settings portal's `color-scheme`, read once and then followed by its
// signal: no polling.
class PortalColorScheme : public QObject {
    Q_OBJECT
public:
    explicit PortalColorScheme(DesktopColorScheme &scheme) : QObject(&scheme), m_scheme(scheme) { watch(); }

private slots:
    // A slot by name, so that the bus can call it on the portal's signal.
    void settingChanged(const QString &group, const QString &key, const QDBusVariant &value)
    {
        if (group == appearanceGroup && key == colorSchemeKey)
            m_scheme.take(preferenceOf(value.variant()));
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
        // answers, the preference is none.
        auto *pending = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *answer) {
            answer->deleteLater();
            const QDBusPendingReply<QDBusVariant> reply = *answer;
            if (reply.isValid())
                m_scheme.take(preferenceOf(reply.value().variant()));
        });
    }

    DesktopColorScheme &m_scheme;
};

DesktopColorScheme::DesktopColorScheme(QObject *parent) : QObject(parent)
{
    new PortalColorScheme(*this);
}

#include "desktop_color_scheme_freedesktop.moc"
