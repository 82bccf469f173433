#include "tray/compositor_placement.h"

#include "tray/popover_host.h"
#include "tray/sway_placement.h"
#if TORNEL_KWIN_PLACEMENT
#include "tray/kwin_placement.h"
#endif

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStandardPaths>

void placeOnCompositor(PopoverHost &host)
{
    // On X11 the popup places itself; under Xwayland it would lose the keyboard.
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    const qint64 pid = QCoreApplication::applicationPid();
    if (const QByteArray sway = qgetenv("SWAYSOCK"); !sway.isEmpty()) {
        (new SwayPlacement(sway, pid, &host))->follow(host);
        host.setPlacedByCompositor(true);
        return;
    }
#if TORNEL_KWIN_PLACEMENT
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':').contains(u"KDE") && !runtime.isEmpty()) {
        (new KWinPlacement(QDBusConnection::sessionBus(), runtime, pid, &host))->follow(host);
        host.setPlacedByCompositor(true);
    }
#endif
}
