#include "app/popover_window_kind.h"

PopoverWindowKind popoverWindowKind(const QString &platformName)
{
    if (platformName.startsWith(QLatin1String("wayland")))
        return {Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint, true};
    // Not Qt::ToolTip: a tooltip window never takes keyboard focus.
    return {Qt::Popup | Qt::FramelessWindowHint, false};
}
