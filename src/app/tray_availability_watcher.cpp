#include "app/tray_availability_watcher.h"

#include "app/status_notifier_host_probe.h"
#include "app/x11_tray_selection_probe.h"

TrayAvailabilityWatcher::TrayAvailabilityWatcher(QObject *parent)
    : QObject(parent),
      m_statusNotifierHost(new StatusNotifierHostProbe(this)),
      m_x11TraySelection(new X11TraySelectionProbe(this))
{
    m_announced = isTrayAvailable();
    connect(m_statusNotifierHost, &StatusNotifierHostProbe::hostAppeared, this, &TrayAvailabilityWatcher::onTrayAppeared);
    connect(m_x11TraySelection, &X11TraySelectionProbe::trayAppeared, this, &TrayAvailabilityWatcher::onTrayAppeared);
}

bool TrayAvailabilityWatcher::isTrayAvailable() const
{
    return m_statusNotifierHost->isHostPresent() || m_x11TraySelection->isTrayPresent();
}

void TrayAvailabilityWatcher::onTrayAppeared()
{
    if (m_announced)
        return;
    m_announced = true;
    emit trayAvailable();
}
