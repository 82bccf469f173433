#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QueuedWriter;

// Where Tornel keeps files across runs: $XDG_STATE_HOME/tornel, or
// ~/.local/state/tornel when that is unset or relative.
inline QString tornelStateDirectory()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/tornel");
}

// Keeps the daemon's output, and Tornel's own lines about the daemon, in a
// file with the time of each line, so that a daemon started from the desktop
// leaves its words somewhere a user can find and attach to a bug report.
// Writing happens on a thread of its own while lines wait (a slow disk holds
// up nobody), with the file opened only for the write, so an idle log costs
// neither a thread nor a descriptor. The file is bounded: a line that would
// take it past `bound` first moves it to "<path>.1", replacing the one before.
class DaemonLog {
public:
    static constexpr qsizetype defaultBound = 1024 * 1024;
    // Told once, from the writing thread, when the file cannot be written.
    using ReportProblem = std::function<void(const QString &problem)>;

    // The problem goes to the log's warnings category unless `reportProblem` is given.
    explicit DaemonLog(QString path, ReportProblem reportProblem = {}, qsizetype bound = defaultBound);
    // Waits a moment for the last lines, such as the daemon's "Stopped".
    ~DaemonLog();

    DaemonLog(const DaemonLog &) = delete;
    DaemonLog &operator=(const DaemonLog &) = delete;

    // $XDG_STATE_HOME/tornel/daemon.log.
    static QString defaultPath();

    // Stamps `message` (one line, its line feed included) with the time and
    // queues it; returns at once. Safe from any thread.
    void append(const QByteArray &message);
    // Waits until everything appended is written, or `limit` has passed.
    void flush(std::chrono::milliseconds limit);

private:
    std::shared_ptr<QueuedWriter> m_writer;
};
