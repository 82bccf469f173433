#include "tray/panel_brightness.h"

Brightness panelBrightnessFor(SchemePreference preference, const QString &currentDesktop)
{
    switch (preference) {
    case SchemePreference::dark:
        return Brightness::dark;
    case SchemePreference::light:
        break;
    case SchemePreference::none:
        return Brightness::unknown;
    }
    // "GNOME", "ubuntu:GNOME", "GNOME-Classic:GNOME" and the like.
    const bool gnome = currentDesktop.contains(QLatin1String("GNOME"), Qt::CaseInsensitive);
    return gnome || currentDesktop.isEmpty() ? Brightness::unknown : Brightness::light;
}
