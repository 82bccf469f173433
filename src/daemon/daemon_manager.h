#pragma once

#include <QObject>

#include <functional>

// Finds, launches, echoes, restarts and stops the tornel-sync daemon.
// (The full interface is filled in by its implementation.)
class DaemonManager : public QObject {
    Q_OBJECT
public:
    explicit DaemonManager(QObject *parent = nullptr);
    ~DaemonManager() override;

    // Main thread. Calls `onReady` 1.0 s after a successful launch (or at
    // once when the daemon already runs).
    void start(std::function<void()> onReady = {});
    // Main thread. Terminates the daemon and waits for it to exit.
    void stop();
};
