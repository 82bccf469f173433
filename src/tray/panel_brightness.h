#pragma once

#include "tray/desktop_color_scheme.h"

#include <QObject>
#include <QString>

// How bright the desktop's panel that shows the tray is, as far as is known.
enum class Brightness { unknown, dark, light };

// What the desktop's colour scheme says of its panel on the desktop named by
// XDG_CURRENT_DESKTOP (`currentDesktop`, a colon-separated list). A
// preference for dark means a dark panel. One for light is believed except on
// GNOME, whose top bar stays dark whatever the windows are, and where the
// desktop is not named.
Brightness panelBrightnessFor(SchemePreference preference, const QString &currentDesktop);

// Finds out how bright the desktop's panel is, from what the desktop says,
// and follows it. On a freedesktop desktop (panel_brightness_freedesktop.cpp)
// the X11 tray's own colours decide when it publishes them; otherwise the
// desktop's colour scheme, as panelBrightnessFor() reads it. Elsewhere
// (panel_brightness_generic.cpp) it stays unknown, and the icons are drawn to
// read on any panel.
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
