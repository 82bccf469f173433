#include "tray/panel_brightness.h"

#include "tray/x11_tray.h"

PanelBrightness::PanelBrightness(QObject *parent) : QObject(parent)
{
    DesktopColorScheme *scheme = &DesktopColorScheme::shared();
    auto *x11Tray = new X11TrayColors(this);
    const QString currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    const auto update = [this, scheme, x11Tray, currentDesktop] {
        Brightness now = x11Tray->brightness();
        if (now == Brightness::unknown)
            now = panelBrightnessFor(scheme->preference(), currentDesktop);
        if (now == m_brightness)
            return;
        m_brightness = now;
        emit changed();
    };
    connect(scheme, &DesktopColorScheme::changed, this, update);
    connect(x11Tray, &X11TrayColors::changed, this, update);
    update();
}

#include "moc_panel_brightness.cpp"
