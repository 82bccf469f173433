#pragma once

#include "notify/desktop_notifications.h"
#include "notify/tray_notifications.h"

#include <type_traits>

// What shows the companion's notifications in this build: the freedesktop
// service on the session bus, or the tray icon's messages where there is
// none (TORNEL_DBUS off). Only the chosen class is built.
using ShownNotifications = std::conditional_t<TORNEL_NOTIFY_OVER_DBUS, DesktopNotifications, TrayNotifications>;
