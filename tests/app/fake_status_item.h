#pragma once

#include "tray/tray_status_item.h"

#include <QList>
#include <QThread>

#include <functional>

// Records what the shell asks the status item to show, and on which thread.
class FakeStatusItem : public StatusItem {
    Q_OBJECT
public:
    using StatusItem::StatusItem;

    void setIcon(const StatusIcon &icon) override
    {
        icons.append(icon);
        threads.append(QThread::currentThread());
        if (onSetIcon)
            onSetIcon();
    }
    void setContextMenu(QMenu *) override {}
    QRect geometry() const override { return {}; }

    QList<StatusIcon> icons;
    QList<QThread *> threads;
    std::function<void()> onSetIcon;
};
