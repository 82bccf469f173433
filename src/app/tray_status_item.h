#pragma once

#include "app/status_item.h"
#include "app/tray_availability_watcher.h"

#include <QPointer>

class QSystemTrayIcon;

// The status item in the desktop's system tray. The tray icon is made only
// once a tray exists (see TrayAvailabilityWatcher); until then the item keeps
// what it should show and says once on standard error that it is waiting.
class TrayStatusItem : public StatusItem {
    Q_OBJECT
public:
    explicit TrayStatusItem(QObject *parent = nullptr);
    ~TrayStatusItem() override;

    void setIcon(const StatusIcon &icon) override;
    void setContextMenu(QMenu *menu) override;
    QRect geometry() const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateTrayIcon();

    TrayAvailabilityWatcher m_trayWatcher;
    QSystemTrayIcon *m_trayIcon = nullptr;
    std::optional<StatusIcon> m_icon;
    QPointer<QMenu> m_contextMenu;
};
