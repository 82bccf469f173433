#pragma once

#include <QDBusConnection>
#include <QObject>

// Whether the session bus has a StatusNotifierItem watcher with a registered
// host (the panel that draws the items), and when one appears.
class StatusNotifierHostProbe : public QObject {
    Q_OBJECT
public:
    explicit StatusNotifierHostProbe(QObject *parent = nullptr);

    bool isHostPresent() const { return m_hostPresent; }

signals:
    void hostAppeared();

private slots:
    // A slot by name, so that the bus can call it on the watcher's signal.
    void recheck();

private:
    bool queryHost();

    QDBusConnection m_bus;
    bool m_hostPresent = false;
};
