#pragma once

#include "daemon/ipc_client.h"
#include "daemon/status_response.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class SyncState;

// A pause with an end: at the deadline the daemon is asked to resume, unless
// the user paused or resumed meanwhile. The deadline is kept in a file of its
// own (written whole or not at all), so it outlives a restart of Tornel.
class TimedPause : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(const std::optional<IPCError> &)>;
    using WallClock = std::function<QDateTime()>;

    // `state` carries the commands; the deadline is kept at `filePath`.
    TimedPause(SyncState &state, QString filePath, QObject *parent = nullptr);

    // $XDG_STATE_HOME/tornel/pause-deadline (~/.local/state when unset).
    static QString defaultFilePath();
    // The end of a pause given as "30m", "1h", "2h30m" or "until-tomorrow"
    // (the coming local midnight), counted from `now`; none when malformed.
    static std::optional<QDateTime> deadlineFor(const QString &duration, const QDateTime &now);

    std::optional<QDateTime> deadline() const { return m_deadline; }
    // "Resumes at 14:30" while a deadline is set, else empty.
    QString resumesText() const;

    // Pauses, and once the daemon confirmed, resumes at `deadline`.
    void pauseUntil(const QDateTime &deadline, Completion completion = {});
    // Takes up the deadline an earlier run kept: one already past resumes now.
    void restore();
    // Resumes when the deadline is reached, else waits on; the timer calls it.
    void resumeIfDue();

    // Tests fix "now".
    void setWallClock(WallClock clock) { m_now = std::move(clock); }

signals:
    void deadlineChanged();

private:
    void setDeadline(std::optional<QDateTime> deadline);
    void keep();
    void warnOnce(const QString &problem);

    SyncState &m_state;
    QString m_filePath;
    std::optional<QDateTime> m_deadline;
    // Set while this object itself sends a command, which ends no deadline.
    bool m_sending = false;
    bool m_warned = false;
    QTimer m_timer;
    WallClock m_now = [] { return QDateTime::currentDateTimeUtc(); };
};
