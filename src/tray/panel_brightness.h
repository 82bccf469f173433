#pragma once

#include <QObject>
#include <QSocketNotifier>

class QDBusVariant;
struct xcb_connection_t;

// How bright the desktop's panel that shows the tray is, as far as is known.
enum class Brightness { unknown, dark, light };

// Finds out how bright the desktop's panel is, from what the desktop says,
// and follows it. The X11 tray's own colours decide when it publishes them;
// otherwise a preference for dark windows, read from the settings portal,
// means a dark panel. A preference for light proves nothing: some desktops
// keep their panel dark whatever the windows are.
class PanelBrightness : public QObject {
    Q_OBJECT
public:
    explicit PanelBrightness(QObject *parent = nullptr);
    ~PanelBrightness() override;

    Brightness brightness() const { return m_brightness; }

signals:
    void changed();

private slots:
    // A slot by name, so that the bus can call it on the portal's signal.
    void portalSettingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    void watchPortal();
    void takeColorScheme(QVariant value);
    void watchX11Tray();
    void readX11Tray();
    void takeX11Events();
    void update();

    bool m_portalPrefersDark = false;
    Brightness m_fromX11Tray = Brightness::unknown;
    Brightness m_brightness = Brightness::unknown;

    // A connection of our own: the event masks we set on the tray's window
    // would otherwise replace those Qt sets on it.
    xcb_connection_t *m_x11 = nullptr;
    QSocketNotifier m_x11Events{QSocketNotifier::Read};
    quint32 m_x11Selection = 0;
    quint32 m_x11Colors = 0;
    quint32 m_x11Manager = 0;
    quint32 m_x11Tray = 0;
};
