#include "state/timed_pause.h"

#include "daemon/daemon_log.h"
#include "state/sync_state.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>

#include <chrono>

namespace {

Q_LOGGING_CATEGORY(lcPause, "tornel.pause")

// QTimer counts on a clock that stands still while the computer sleeps, so a
// long wait is checked against the wall clock every minute.
constexpr qint64 longestWaitMs = 60 * 1000;
// A pause longer than a week is no timed pause but a forgotten one.
constexpr qint64 longestPauseMinutes = 7 * 24 * 60;

} // namespace

TimedPause::TimedPause(SyncState &state, QString filePath, QObject *parent)
    : QObject(parent), m_state(state), m_filePath(std::move(filePath))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TimedPause::resumeIfDue);
    // The user paused or resumed meanwhile (here, in the tray, or on the command line).
    connect(&m_state, &SyncState::commandSent, this, [this] {
        if (!m_sending)
            setDeadline(std::nullopt);
    });
    // Resumed by other means: the deadline must not end a later pause.
    connect(&m_state, &SyncState::stateChanged, this, [this](SyncStatus status) {
        if (status == SyncStatus::syncing || status == SyncStatus::synced || status == SyncStatus::loggedOut)
            setDeadline(std::nullopt);
    });
}

QString TimedPause::defaultFilePath()
{
    return tornelStateDirectory() + QStringLiteral("/pause-deadline");
}

std::optional<QDateTime> TimedPause::deadlineFor(const QString &duration, const QDateTime &now)
{
    if (duration == QLatin1String("until-tomorrow")) {
        const QDateTime local = now.toLocalTime();
        return QDateTime(local.date().addDays(1), QTime(0, 0)).toUTC();
    }
    static const QRegularExpression pattern(QStringLiteral("^(?:(\\d{1,3})h)?(?:(\\d{1,5})m)?$"));
    const QRegularExpressionMatch match = pattern.match(duration);
    if (duration.isEmpty() || !match.hasMatch())
        return std::nullopt;
    const qint64 minutes = match.captured(1).toLongLong() * 60 + match.captured(2).toLongLong();
    if (minutes <= 0 || minutes > longestPauseMinutes)
        return std::nullopt;
    return now.addSecs(minutes * 60);
}

QString TimedPause::resumesText() const
{
    if (!m_deadline)
        return {};
    const QDateTime local = m_deadline->toLocalTime();
    const QLocale locale;
    const QString when = local.date() == m_now().toLocalTime().date()
        ? locale.toString(local.time(), QLocale::ShortFormat)
        : locale.toString(local, QLocale::ShortFormat);
    return tr("Resumes at %1").arg(when);
}

void TimedPause::pauseUntil(const QDateTime &deadline, Completion completion)
{
    m_sending = true;
    setDeadline(std::nullopt);
    m_state.pause([self = QPointer<TimedPause>(this), deadline,
                   completion = std::move(completion)](const std::optional<IPCError> &error) {
        if (self && !error)
            self->setDeadline(deadline);
        if (completion)
            completion(error);
    });
    m_sending = false;
}

void TimedPause::restore()
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray text = file.read(64).trimmed();
    const QDateTime deadline = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    if (!deadline.isValid()) {
        warnOnce(QStringLiteral("ignoring the unreadable pause deadline in %1").arg(m_filePath));
        file.remove();
        return;
    }
    m_deadline = deadline.toUTC();
    emit deadlineChanged();
    resumeIfDue();
}

void TimedPause::resumeIfDue()
{
    if (!m_deadline)
        return;
    const qint64 remainingMs = m_now().msecsTo(*m_deadline);
    if (remainingMs > 0) {
        m_timer.start(int(std::min(remainingMs, longestWaitMs)));
        return;
    }
    setDeadline(std::nullopt);
    m_sending = true;
    m_state.resume();
    m_sending = false;
}

void TimedPause::setDeadline(std::optional<QDateTime> deadline)
{
    if (deadline == m_deadline)
        return;
    m_deadline = std::move(deadline);
    m_timer.stop();
    keep();
    emit deadlineChanged();
    resumeIfDue();
}

void TimedPause::keep()
{
    if (!m_deadline) {
        QFile::remove(m_filePath);
        return;
    }
    const QString folder = QFileInfo(m_filePath).absolutePath();
    QSaveFile file(m_filePath);
    if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly)
        || file.write(m_deadline->toString(Qt::ISODate).toLatin1() + '\n') < 0 || !file.commit())
        warnOnce(QStringLiteral("cannot keep the pause deadline in %1 (%2); it holds until Tornel quits")
                     .arg(m_filePath, file.errorString()));
}

void TimedPause::warnOnce(const QString &problem)
{
    if (m_warned)
        return;
    m_warned = true;
    qCWarning(lcPause, "%s", qPrintable(problem));
}
