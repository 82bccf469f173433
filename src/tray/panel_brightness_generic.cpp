#include "tray/panel_brightness.h"

// Neither the X11 tray nor the settings portal to ask: the brightness stays
// unknown. On macOS the untinted icons are template images, which the menu
// bar colours itself.
PanelBrightness::PanelBrightness(QObject *parent) : QObject(parent) {}

#include "moc_panel_brightness.cpp"
