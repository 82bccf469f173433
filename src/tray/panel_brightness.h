#pragma once

#include <QObject>

// How bright the desktop's panel that shows the tray is, as far as is known.
enum class Brightness { unknown, dark, light };

// Finds out how bright the desktop's panel is, from what the desktop says,
// and follows it. On a freedesktop desktop (panel_brightness_freedesktop.cpp)
// the X11 tray's own colours decide when it publishes them; otherwise a
// preference for dark windows, read from the settings portal, means a dark
// panel. A preference for light proves nothing: some desktops keep their
// panel dark whatever the windows are. Elsewhere (panel_brightness_generic.cpp)
// it stays unknown, and the icons are drawn to read on any panel.
class PanelBrightness : public QObject {
    Q_OBJECT
public:
    explicit PanelBrightness(QObject *parent = nullptr);

    Brightness brightness() const { return m_brightness; }

signals:
    void changed();

private:
    Brightness m_brightness = Brightness::unknown;
};
