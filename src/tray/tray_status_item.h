#pragma once

#include "tray/panel_brightness.h"
#include "tray/status_item_style.h"
#include "tray/tray_availability.h"
#include "views/panel_style.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <chrono>
#include <optional>

class QMenu;

// What the status item shows: a symbol, the description read for it (tooltip
// and accessible name), and the colour it is tinted with.
struct StatusIcon {
    QString symbol;
    QString description;
    // Absent: not tinted, drawn as text on the desktop's panel is.
    std::optional<NamedColor> color;

    bool operator==(const StatusIcon &) const = default;
};

// Shown from launch until the first status arrives.
StatusIcon launchIcon();
StatusIcon statusIcon(SyncStatus status);

// The image the tray is handed for `icon` on a panel of that brightness, in
// colours of its own rather than the application's: the panel is the
// desktop's. A template image for an icon without a state colour where the
// style says so. Null for an unknown symbol.
QIcon trayIcon(const StatusIcon &icon, Brightness brightness, const StatusItemStyle &style = {});

// The companion's presence in the desktop's tray: one icon with a
// description, a click, and (for the panel) a context menu.
class StatusItem : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void setIcon(const StatusIcon &icon) = 0;
    // The item does not take ownership of `menu`.
    virtual void setContextMenu(QMenu *menu) = 0;
    // The icon's rectangle on screen; empty when the tray does not say.
    virtual QRect geometry() const = 0;
    // A message next to the icon, for notifications where the desktop has no
    // service of its own for them (see TrayNotifications).
    virtual void showMessage(const QString &title, const QString &text, bool critical) = 0;

signals:
    // The primary click on the icon.
    void clicked();
    // A click on the message the icon showed.
    void messageClicked();
    // No tray came up in the first seconds after the start: the icon cannot show.
    void trayMissing();
    // A tray appeared after the start; the icon shows from now on.
    void trayAppeared();
};

// The status item in the desktop's system tray. The tray icon is made only
// once a tray exists (see TrayAvailability); until then the item keeps what
// it should show and says once on standard error that it is waiting. The
// icon is drawn for the panel's brightness and redrawn when that changes.
class TrayStatusItem : public StatusItem {
    Q_OBJECT
public:
    // A panel started with the session may come up a little after Tornel;
    // a desktop without one by then most likely has none (stock GNOME).
    static constexpr std::chrono::seconds trayGrace{5};

    explicit TrayStatusItem(StatusItemStyle style = StatusItemStyle::ofThisSystem(), QObject *parent = nullptr);
    ~TrayStatusItem() override;

    void setIcon(const StatusIcon &icon) override;
    void setContextMenu(QMenu *menu) override;
    QRect geometry() const override;
    void showMessage(const QString &title, const QString &text, bool critical) override;

private:
    void updateTrayIcon();
    void activated(QSystemTrayIcon::ActivationReason reason);

    const StatusItemStyle m_style;
    TrayAvailability m_trayAvailability;
    PanelBrightness m_panelBrightness;
    QSystemTrayIcon *m_trayIcon = nullptr;
    std::optional<StatusIcon> m_icon;
    QPointer<QMenu> m_contextMenu;
};
