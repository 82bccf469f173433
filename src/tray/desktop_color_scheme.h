#pragma once

#include "views/panel_palette.h"

#include <QObject>

class QWidget;

// What the desktop says of its colour scheme, as far as it says anything.
enum class SchemePreference { none, dark, light };

// The desktop's stated preference, followed as it changes. On a freedesktop
// desktop (desktop_color_scheme_freedesktop.cpp) the settings portal's
// `color-scheme`; elsewhere (desktop_color_scheme_generic.cpp) none, and
// Qt's palette tells instead. One for the application, so the portal is
// asked once for the tray icon and the panel alike.
class DesktopColorScheme : public QObject {
    Q_OBJECT
public:
    static DesktopColorScheme &shared();

    SchemePreference preference() const { return m_preference; }

signals:
    void changed();

private:
    explicit DesktopColorScheme(QObject *parent);
    void take(SchemePreference preference);

    SchemePreference m_preference = SchemePreference::none;
    friend class PortalColorScheme;
};

// The panel's scheme: the desktop's preference where it states one, else
// that of the desktop's palette (which Qt takes from the platform's theme).
ColorScheme panelScheme(SchemePreference preference, const QPalette &desktopPalette);

// Keeps `window` in the panel's palette for the desktop's scheme: set now,
// again at each showing (the desktop's palette may have changed meanwhile)
// and at once when the desktop says its preference changed.
void followDesktopScheme(QWidget &window);
