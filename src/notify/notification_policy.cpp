#include "notify/notification_policy.h"

#include <QDir>

#include <algorithm>
#include <utility>

namespace {

QString restartHint()
{
    return QCoreApplication::translate("NotificationPolicy", "then quit Tornel and start it again.");
}

// A home directory written as "~", as users read and type it.
QString readablePath(const QString &path)
{
    const QString home = QDir::homePath();
    if (path == home || path.startsWith(home + u'/'))
        return u'~' + path.mid(home.size());
    return path;
}

// "a, b, c or d", for a list of places.
QString alternatives(const QStringList &items)
{
    if (items.size() < 2)
        return items.join(QString());
    return QCoreApplication::translate("NotificationPolicy", "%1 or %2", "the last of several places").arg(items.first(items.size() - 1).join(QStringLiteral(", ")), items.last());
}

Notice syncErrorNotice(const std::optional<QString> &message)
{
    const bool said = message && !message->trimmed().isEmpty();
    return {Notice::Topic::sync, QCoreApplication::translate("NotificationPolicy", "Sync error"),
            said ? *message : QCoreApplication::translate("NotificationPolicy", "Your files are not being synced."), true, false, 0};
}

} // namespace

NotificationPolicy::NotificationPolicy(Clock clock) : m_clock(std::move(clock)) {}

void NotificationPolicy::statusObserved(SyncStatus status, const std::optional<QString> &errorMessage)
{
    const bool atStartUp = !std::exchange(m_sawFirstStatus, true);
    TopicState &sync = topic(Notice::Topic::sync);
    if (status == SyncStatus::error) {
        if (!m_inEpisode) {
            m_inEpisode = true;
            m_episodeQuiet = atStartUp;
            m_episodeMessage = errorMessage;
            if (!atStartUp)
                queue(syncErrorNotice(errorMessage));
            return;
        }
        if (m_episodeQuiet || errorMessage == m_episodeMessage)
            return;
        m_episodeMessage = errorMessage;
        // Follows the message while its notice waits or is on screen; one the
        // user closed stays closed.
        if (sync.pending || (sync.open && m_failureShownLast))
            queue(syncErrorNotice(errorMessage));
        return;
    }
    if (status == SyncStatus::syncing || !m_inEpisode)
        return;
    m_inEpisode = false;
    if (status == SyncStatus::synced && m_failureShownLast)
        queue({Notice::Topic::sync, tr("Syncing works again"), tr("Your files are up to date."), false, false, 0});
    else
        sync.pending.reset();
}

void NotificationPolicy::serviceGaveUp()
{
    reportServiceFailure({Notice::Topic::sync, tr("The sync service keeps failing"),
                          tr("tornel-sync, the service that syncs your files, failed several times in a "
                                         "minute, so Tornel stopped restarting it. To try again, quit Tornel and "
                                         "start it again; started from a terminal, Tornel shows why the service "
                                         "fails."),
                          false, true, 0});
}

void NotificationPolicy::serviceNotFound(const QStringList &searchedDirectories)
{
    QStringList places;
    for (const QString &directory : searchedDirectories)
        places.append(readablePath(directory));
    places.append(tr("on your PATH"));
    reportServiceFailure({Notice::Topic::sync, tr("Tornel cannot find its sync service"),
                          tr("Your files are not being synced: there is no tornel-sync in %1. Install "
                                         "tornel-sync in one of these places, %2")
                              .arg(alternatives(places), restartHint()),
                          false, true, 0});
}

void NotificationPolicy::serviceNotLaunched(const QString &path, const QString &reason)
{
    reportServiceFailure({Notice::Topic::sync, tr("Tornel cannot start its sync service"),
                          tr("Your files are not being synced: %1 could not be run (%2). Check that it "
                                         "is a program for this computer and that you may run it (chmod +x), %3")
                              .arg(readablePath(path), reason, restartHint()),
                          false, true, 0});
}

void NotificationPolicy::reportServiceFailure(Notice notice)
{
    // The failed polls that follow would only repeat it, less helpfully.
    m_inEpisode = true;
    m_episodeQuiet = true;
    queue(std::move(notice));
}

void NotificationPolicy::trayMissing()
{
    queue({Notice::Topic::presence, tr("Tornel is running"),
           tr("This desktop shows no tray icons, so Tornel has no icon. Start Tornel again to open its "
                          "panel."),
           false, false, 0});
}

std::optional<quint32> NotificationPolicy::trayAppeared()
{
    TopicState &presence = topic(Notice::Topic::presence);
    presence.pending.reset();
    if (!std::exchange(presence.open, false))
        return std::nullopt;
    return presence.id;
}

void NotificationPolicy::queue(Notice notice)
{
    std::optional<Pending> &pending = topic(notice.topic).pending;
    // A notice replacing one that waits keeps that one's place in the line.
    const TimePoint queuedAt = pending ? pending->queuedAt : m_clock();
    pending = Pending{std::move(notice), queuedAt};
}

std::optional<NotificationPolicy::TimePoint> NotificationPolicy::nextDue() const
{
    std::optional<TimePoint> earliest;
    for (const TopicState &state : m_topics) {
        if (state.pending && (!earliest || state.pending->queuedAt < *earliest))
            earliest = state.pending->queuedAt;
    }
    if (earliest && m_lastShownAt)
        earliest = std::max(*earliest, *m_lastShownAt + minimumGap);
    return earliest;
}

std::optional<Notice> NotificationPolicy::takeDue()
{
    const TimePoint now = m_clock();
    const std::optional<TimePoint> due = nextDue();
    if (!due || *due > now)
        return std::nullopt;
    TopicState *first = nullptr;
    for (TopicState &state : m_topics) {
        if (state.pending && (!first || state.pending->queuedAt < first->pending->queuedAt))
            first = &state;
    }
    Notice notice = std::move(first->pending->notice);
    first->pending.reset();
    notice.replacesId = first->open ? first->id : 0;
    m_lastShownAt = now;
    if (notice.topic == Notice::Topic::sync)
        m_failureShownLast = m_inEpisode;
    return notice;
}

void NotificationPolicy::shown(Notice::Topic which, quint32 id)
{
    TopicState &state = topic(which);
    state.id = id;
    state.open = id != 0;
}

void NotificationPolicy::closed(quint32 id)
{
    for (TopicState &state : m_topics) {
        if (id != 0 && state.id == id)
            state.open = false;
    }
}

bool NotificationPolicy::isOurs(quint32 id) const
{
    return id != 0 &&
           std::any_of(m_topics.begin(), m_topics.end(), [id](const TopicState &state) { return state.id == id; });
}
