#pragma once

#include <QSystemTrayIcon>

// How the system's tray treats a status item, where that differs (chosen by
// CMake: status_item_style_macos.cpp, status_item_style_generic.cpp). A
// plain value, so that each style's behaviour is tested on any system.
struct StatusItemStyle {
    // macOS opens a menu given to a status item on every click, the left one
    // included; there the item keeps its menu and opens it on a right click.
    bool menuOnSecondaryClickOnly = false;
    // macOS draws template images in the menu bar's own colour, light or
    // dark; the icons that show no state colour are made such images.
    bool neutralIconsAreTemplates = false;

    static StatusItemStyle ofThisSystem();
};

// What a click on the status item does, by the tray's word for it.
enum class ClickAction { none, togglePanel, openMenu };
ClickAction clickAction(QSystemTrayIcon::ActivationReason reason, const StatusItemStyle &style);
