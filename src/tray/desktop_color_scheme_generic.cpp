#include "tray/desktop_color_scheme.h"

// No settings portal to ask: the desktop's palette tells the scheme.
DesktopColorScheme::DesktopColorScheme(QObject *parent) : QObject(parent) {}
