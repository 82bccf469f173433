#include "notify/notification_policy.h"

#include "daemon/daemon_log.h"

#include <QDir>

#include <algorithm>
#include <utility>

namespace {

QString restartHint()
{
    return QCoreApplication::translate("NotificationPolicy", "then choose Restart Sync Service here or in Tornel's panel.");
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
            said ? *message : QCoreApplication::translate("NotificationPolicy", "Your files are not being synced."),
            Notice::Action::retrySync, false, 0};
}

// What failed, then the daemon's own last words, which often say why.
QString withLastOutput(const QString &text, const QString &lastOutputLine)
{
    if (lastOutputLine.trimmed().isEmpty())
        return text;
    return text + u'\n' + QCoreApplication::translate("NotificationPolicy", "Its last output: %1").arg(lastOutputLine);
}

// Where to look, and what to attach to a report, when the service keeps failing.
QString withLogPlace(const QString &text)
{
    return text + u'\n'
        + QCoreApplication::translate("NotificationPolicy", "The service's log is in %1.")
              .arg(readablePath(DaemonLog::defaultPath()));
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
                queue(syncErrorNotice(errorMessage), errorHold);
            return;
        }
        if (m_episodeQuiet || errorMessage == m_episodeMessage)
            return;
        m_episodeMessage = errorMessage;
        // Follows the message while its notice waits or was shown; one the
        // user closed stays closed.
        if (sync.pending || (!sync.dismissed && m_failureShownLast))
            queue(syncErrorNotice(errorMessage));
        return;
    }
    if (status == SyncStatus::syncing || !m_inEpisode)
        return;
    m_inEpisode = false;
    if (status == SyncStatus::synced && m_failureShownLast)
        queue({Notice::Topic::sync, tr("Syncing works again"), tr("Your files are up to date."), Notice::Action::none,
               false, 0});
    else
        sync.pending.reset();
}

void NotificationPolicy::serviceGaveUp(const QString &lastOutputLine)
{
    reportServiceFailure({Notice::Topic::sync, tr("The sync service keeps failing"),
                          withLogPlace(withLastOutput(tr("tornel-sync, the service that syncs your files, failed "
                                                         "several times in a minute, so Tornel stopped restarting it."),
                                                      lastOutputLine)),
                          Notice::Action::restartService, true, 0});
}

void NotificationPolicy::serviceEnded(const QString &lastOutputLine)
{
    reportServiceFailure({Notice::Topic::sync, tr("The sync service has stopped"),
                          withLastOutput(tr("tornel-sync, the service that syncs your files, ended by itself, so "
                                            "your files are not being synced."),
                                         lastOutputLine),
                          Notice::Action::restartService, true, 0});
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
                          Notice::Action::restartService, true, 0});
}

void NotificationPolicy::serviceNotLaunched(const QString &path, const QString &reason)
{
    reportServiceFailure({Notice::Topic::sync, tr("Tornel cannot start its sync service"),
                          withLogPlace(tr("Your files are not being synced: %1 could not be run (%2). Check that "
                                          "it is a program for this computer and that you may run it (chmod +x), %3")
                                           .arg(readablePath(path), reason, restartHint())),
                          Notice::Action::restartService, true, 0});
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
           Notice::Action::none, false, 0});
}

std::optional<quint32> NotificationPolicy::trayAppeared()
{
    TopicState &presence = topic(Notice::Topic::presence);
    presence.pending.reset();
    if (!std::exchange(presence.open, false))
        return std::nullopt;
    return presence.id;
}

void NotificationPolicy::queue(Notice notice, std::chrono::seconds hold)
{
    std::optional<Pending> &pending = topic(notice.topic).pending;
    // A notice replacing one that waits keeps that one's place in the line.
    if (pending) {
        pending->notice = std::move(notice);
        return;
    }
    const TimePoint now = m_clock();
    pending = Pending{std::move(notice), now, now + hold};
}

std::optional<NotificationPolicy::TimePoint> NotificationPolicy::nextDue() const
{
    std::optional<TimePoint> earliest;
    for (const TopicState &state : m_topics) {
        if (state.pending && (!earliest || state.pending->heldUntil < *earliest))
            earliest = state.pending->heldUntil;
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
    // Of the notices no longer held, the one waiting longest.
    TopicState *first = nullptr;
    for (TopicState &state : m_topics) {
        if (state.pending && state.pending->heldUntil <= now &&
            (!first || state.pending->queuedAt < first->pending->queuedAt))
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
    state.dismissed = false;
}

void NotificationPolicy::closed(quint32 id, bool dismissedByUser)
{
    for (TopicState &state : m_topics) {
        if (id != 0 && state.id == id) {
            state.open = false;
            state.dismissed = dismissedByUser;
        }
    }
}

bool NotificationPolicy::isOurs(quint32 id) const
{
    return id != 0 &&
           std::any_of(m_topics.begin(), m_topics.end(), [id](const TopicState &state) { return state.id == id; });
}
