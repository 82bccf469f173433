#pragma once

#include "daemon/status_response.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

// One desktop notification as the policy lets it out: what it says, and the
// server's id of the earlier one it takes the place of.
struct Notice {
    // Notices of one topic replace each other in place; the two topics never do.
    enum class Topic { sync, presence };

    // A button next to the click that opens the panel: "Retry Sync" asks
    // the daemon to resume, "Restart Sync Service" launches it afresh.
    enum class Action { none, retrySync, restartService };

    Topic topic = Topic::sync;
    QString summary;
    QString body;
    Action action = Action::none;
    // The service itself failed: critical, which most desktops keep on screen.
    bool urgent = false;
    // 0 for a new notification.
    quint32 replacesId = 0;
};

// Decides which events become desktop notifications, what they say, and when
// they go out, with no D-Bus in sight so that a table can check it.
//
// An error episode runs from a status of error until one of synced, paused or
// logged out; syncing in between (a retry at work) belongs to it. Its notice
// waits `errorHold` (two polls), so an error over by then tells nothing, then
// follows the daemon's message until the user closes it (one that expired
// comes back with the next message); synced ends it with a notice that
// syncing works again, if the user was told of the failure. The status first found at start-up, and syncing, paused or
// logged out, tell nothing. At most one notice goes out per `minimumGap`: within a topic the latest waiting notice
// wins; across topics the one waiting longer goes first.
class NotificationPolicy {
    Q_DECLARE_TR_FUNCTIONS(NotificationPolicy)

public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;

    static constexpr std::chrono::seconds minimumGap{10};
    static constexpr std::chrono::seconds errorHold{4};

    explicit NotificationPolicy(Clock clock = &std::chrono::steady_clock::now);

    // Each status the model applies, with the error message it holds then.
    void statusObserved(SyncStatus status, const std::optional<QString> &errorMessage);
    // The supervisor stopped restarting a daemon that kept failing; the
    // daemon's last line of output, if any, says why.
    void serviceGaveUp(const QString &lastOutputLine);
    // The daemon ended by itself, with status 0, and is not restarted.
    void serviceEnded(const QString &lastOutputLine);
    // No daemon in any of `searchedDirectories` nor on PATH.
    void serviceNotFound(const QStringList &searchedDirectories);
    // The daemon at `path` could not be run, for `reason`.
    void serviceNotLaunched(const QString &path, const QString &reason);
    // No tray appeared in the time given to it.
    void trayMissing();
    // A tray appeared: a waiting notice about its absence is dropped, and the
    // id of one already shown is returned, to be taken back.
    std::optional<quint32> trayAppeared();

    // The notice to show now, if one is due; its id is reported with `shown`.
    std::optional<Notice> takeDue();
    // When the next waiting notice falls due; nothing when none waits.
    std::optional<TimePoint> nextDue() const;
    // The server's id for a notice taken, or 0 when it could not be shown.
    void shown(Notice::Topic topic, quint32 id);
    // The server closed notification `id`: dismissed by the user, or else
    // expired or closed with an action taken, which dismisses nothing.
    void closed(quint32 id, bool dismissedByUser);
    // Whether `id` is the last notification of a topic of ours, open or
    // closed: servers may close a notification before telling its action.
    bool isOurs(quint32 id) const;

private:
    struct Pending {
        Notice notice;
        TimePoint queuedAt;
        TimePoint heldUntil;
    };
    struct TopicState {
        std::optional<Pending> pending;
        // The server's id of the last notice shown, whether it is on screen,
        // and whether the user closed it.
        quint32 id = 0;
        bool open = false;
        bool dismissed = false;
    };

    void queue(Notice notice, std::chrono::seconds hold = {});
    void reportServiceFailure(Notice notice);
    TopicState &topic(Notice::Topic which) { return m_topics[size_t(which)]; }

    Clock m_clock;
    std::array<TopicState, 2> m_topics;
    std::optional<TimePoint> m_lastShownAt;
    bool m_sawFirstStatus = false;
    bool m_inEpisode = false;
    // The episode tells nothing more: found at start-up, or a service failure said it.
    bool m_episodeQuiet = false;
    std::optional<QString> m_episodeMessage;
    // The last sync notice shown told of a failure, so a recovery is worth telling.
    bool m_failureShownLast = false;
};
