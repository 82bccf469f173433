#pragma once

#include "app/status_icon.h"

#include <QObject>
#include <QRect>

class QMenu;

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

signals:
    // The primary click on the icon.
    void clicked();
};
