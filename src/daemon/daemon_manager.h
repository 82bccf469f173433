#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

// Decides whether a failed daemon is restarted, and after how long. Restarts
// are counted in a window that each restart moves: a failure more than 60.0 s
// after the previous restart begins a new window. Within one window the
// delays grow 1, 2, 4 s, and a failure after the third restart is refused.
class RestartPolicy {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Seconds = std::chrono::duration<double>;

    static constexpr qint64 maxRestartsPerMinute = 3;
    static constexpr Seconds window{60.0};

    // One failure at `now`: the delay before the restart, or nothing when the
    // window's restarts are used up (the count and time then stay as they were).
    std::optional<Seconds> restartDelay(TimePoint now);

    qint64 restartCount() const { return m_restartCount; }

private:
    qint64 m_restartCount = 0;
    // Absent until the first restart, so the first failure always begins a window.
    std::optional<TimePoint> m_lastRestartTime;
};

// Keeps the tornel-sync daemon running while the companion runs: finds and
// launches it, echoes its output line by line, restarts it after failures
// within limits, and stops it. Every diagnostic is one "[daemon] " line.
//
// start, stop and the delayed ready and relaunch tasks run on the main
// thread; one supervising thread per launch echoes the output and handles the
// exit. It shares only `Shared` and its `Session` with the manager and
// reaches it solely through tasks queued on it.
class DaemonManager : public QObject {
    Q_OBJECT
public:
    // Gets each message whole, line feed included; called from several threads.
    using OutputSink = std::function<void(const QByteArray &message)>;
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::milliseconds readyDelay{1000};
    static constexpr std::chrono::seconds stopGrace{5};

    // Messages go to standard output and to the daemon's log at its default
    // place; the restart window follows the steady clock.
    explicit DaemonManager(QObject *parent = nullptr);
    DaemonManager(OutputSink sink, SteadyClock clock, QObject *parent = nullptr);
    // Stops a daemon that still runs: nothing would supervise it afterwards.
    ~DaemonManager() override;

    // Launches the daemon unless it runs already, and calls `onReady` 1.0 s
    // after a successful launch, or at once when it was running. A failed
    // launch is reported and holds `onReady` for the next launch that succeeds.
    void start(std::function<void()> onReady = {});
    // Supervises afresh after giving up or after the daemon ended: a new
    // window of restarts, and a launch unless the daemon runs.
    void restart();
    // Sends SIGTERM, waits up to `stopGrace`, then SIGKILL. Returns once the
    // daemon has exited and its last lines are out; "[daemon] Stopped" comes
    // last. The exit it causes is not restarted, nor is a pending relaunch.
    void stop();

    // The executable the next launch runs, searched afresh each time; empty when none is found.
    QString daemonPath() const;

    // Whether the daemon is down and nothing will launch it again but restart():
    // it could not be launched, it ended by itself, or it failed too often.
    bool needsRestart() const { return m_needsRestart; }
    // The daemon's last lines of output, oldest first, at most `recentOutputLines`.
    static constexpr qsizetype recentOutputLines = 10;
    QStringList recentOutput() const;

signals:
    // Each successful launch, the first and every relaunch.
    void daemonLaunched();
    // The daemon exited with status 0 by itself; it is not restarted.
    void daemonEnded();
    void needsRestartChanged(bool needsRestart);
    // A launch found no daemon in `searchedDirectories`, nor on PATH.
    void daemonNotFound(const QStringList &searchedDirectories);
    // A launch found the daemon at `path` but could not run it, for `reason`.
    void launchFailed(const QString &path, const QString &reason);
    // The daemon failed too often to be restarted again.
    void gaveUp();

private:
    struct Shared;
    struct Session;

    // Where a launch looks, in order, before PATH.
    static QStringList searchedDirectories();

    static void supervise(std::shared_ptr<Shared> shared, std::shared_ptr<Session> session);
    void relaunchLater(const std::weak_ptr<Session> &failed, std::chrono::milliseconds delay);
    void retireSession();
    void setNeedsRestart(bool needsRestart);
    void holdUntilLaunched(std::function<void()> onReady);

    std::shared_ptr<Shared> m_shared;
    // The last launched child; its supervisor runs until that child has ended.
    std::shared_ptr<Session> m_session;
    std::thread m_supervisor;
    QTimer m_relaunchTimer;
    // The shell's ready callback, until a launch succeeds.
    std::function<void()> m_heldOnReady;
    bool m_needsRestart = false;
};
