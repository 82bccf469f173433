#include "state/sync_state.h"

#include "state/daemon_text.h"
#include "state/status_look.h"

#include <QCoreApplication>

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <array>
#include <climits>
#include <memory>
#include <utility>

namespace {

using namespace Qt::StringLiterals;

// Hands `task` to the main thread. Request completions run on IPC workers and
// must not touch the SyncState, which may be gone by then: the application
// object outlives it, and each task checks its own weak pointer on arrival.
template <typename Task>
void onMainThread(Task task)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

// A command's outcome as its completion takes it: the error, or none on success.
std::optional<IPCError> failureOf(const IPCResult &result)
{
    if (const auto *failure = std::get_if<IPCError>(&result))
        return *failure;
    return std::nullopt;
}

QString toQString(const icu::UnicodeString &text)
{
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

struct RelativeUnit {
    UCalendarDateFields field;
    URelativeDateTimeUnit unit;
};

// Largest first: the phrase uses the first unit whose count is not zero.
constexpr std::array<RelativeUnit, 7> relativeUnits{{
    {UCAL_YEAR, UDAT_REL_UNIT_YEAR},
    {UCAL_MONTH, UDAT_REL_UNIT_MONTH},
    {UCAL_WEEK_OF_YEAR, UDAT_REL_UNIT_WEEK},
    {UCAL_DATE, UDAT_REL_UNIT_DAY},
    {UCAL_HOUR_OF_DAY, UDAT_REL_UNIT_HOUR},
    {UCAL_MINUTE, UDAT_REL_UNIT_MINUTE},
    {UCAL_SECOND, UDAT_REL_UNIT_SECOND},
}};

// Making a calendar and a relative-date formatter loads locale data and costs
// far more than the phrase: each thread keeps the pair for the locale it last
// formatted in. The calendar counts in the time zone that was ICU's default
// when it was made.
struct RelativeDateTools {
    QString localeId;
    std::unique_ptr<icu::Calendar> calendar;
    std::unique_ptr<icu::RelativeDateTimeFormatter> formatter;
};

RelativeDateTools *relativeDateToolsFor(const QString &localeId)
{
    thread_local RelativeDateTools tools;
    if (tools.formatter && tools.localeId == localeId)
        return &tools;
    tools = {};
    const icu::Locale locale(localeId.toLatin1().constData());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(locale, status));
    auto formatter = std::make_unique<icu::RelativeDateTimeFormatter>(locale, nullptr, UDAT_STYLE_LONG,
                                                                      UDISPCTX_CAPITALIZATION_NONE, status);
    if (U_FAILURE(status))
        return nullptr;
    tools = {localeId, std::move(calendar), std::move(formatter)};
    return &tools;
}

// "Syncing 3 files...": the count as digits, however large, and as the
// plural form's n, which tr takes as an int.
QString syncingFiles(const QString &count, int pluralCount)
{
    return QCoreApplication::translate("SyncState", "Syncing %1 file(s)...", "%1 is the number of files", pluralCount)
        .arg(count);
}

} // namespace

SyncState::SyncState(QObject *parent) : QObject(parent) {}

// Destroying the client waits for requests still running; their main-thread
// tasks then find the weak pointer cleared and do nothing.
SyncState::~SyncState() = default;

template <typename T, typename Value>
void SyncState::assign(T &field, Value &&value, void (SyncState::*changed)())
{
    // Announced on every assignment, equal value or not: views re-read.
    field = std::forward<Value>(value);
    emit(this->*changed)();
}

QString SyncState::statusText() const
{
    return statusTextFor(m_status, m_pendingUploads, m_pendingDownloads, m_errorMessage);
}

QString SyncState::lastSyncText() const
{
    // Without a time there is no phrase, and no need to load ICU's locale data.
    if (!m_lastSync)
        return {};
    return lastSyncTextFor(m_lastSync, m_now(), QString::fromLatin1(icu::Locale::getDefault().getName()));
}

void SyncState::startPolling()
{
    // The shell starts polling once per run; a repeated call keeps the running timer.
    if (m_pollTimer)
        return;
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(pollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &SyncState::fetchStatus);
    m_pollTimer->start();
    fetchStatus();
}

void SyncState::stopPolling()
{
    if (!m_pollTimer)
        return;
    m_pollTimer->stop();
    m_pollTimer->deleteLater();
    m_pollTimer.clear();
}

void SyncState::fetchStatus()
{
    const qint64 number = ++m_statusRequestsSent;
    m_ipcClient.send(u"status"_s, std::nullopt, [self = QPointer<SyncState>(this), number](const IPCResult &result) {
        if (const auto *error = std::get_if<IPCError>(&result)) {
            onMainThread([self, number, error = *error] {
                if (!self || !self->takeAnswerTo(number))
                    return;
                self->m_unreadableAnswersInARow = 0;
                self->applyFailure(error);
            });
            return;
        }
        // Decoded here on the worker; the main thread only learns whether it could be.
        std::optional<StatusResponse> record = StatusResponse::decode(std::get<QJsonValue>(result));
        onMainThread([self, number, record = std::move(record)] {
            if (!self || !self->takeAnswerTo(number))
                return;
            if (record)
                self->applyStatus(*record);
            else
                self->answerUnreadable();
        });
    });
}

bool SyncState::takeAnswerTo(qint64 number)
{
    if (number < m_oldestApplicableRequest)
        return false;
    m_oldestApplicableRequest = number + 1;
    return true;
}

void SyncState::beginCommand()
{
    m_oldestApplicableRequest = m_statusRequestsSent + 1;
    setCommandError(std::nullopt);
}

void SyncState::pause(CommandCompletion completion)
{
    sendThenRefresh(u"pause"_s, std::move(completion));
}

void SyncState::resume(CommandCompletion completion)
{
    sendThenRefresh(u"resume"_s, std::move(completion));
}

void SyncState::sendThenRefresh(const QString &method, CommandCompletion completion)
{
    beginCommand();
    emit commandSent(method);
    // Whatever the daemon answered, the refreshed status shows what it did.
    m_ipcClient.send(method, std::nullopt,
                     [self = QPointer<SyncState>(this), completion = std::move(completion)](const IPCResult &result) mutable {
                         const std::optional<IPCError> error = failureOf(result);
                         onMainThread([self, completion = std::move(completion), error] {
                             if (self)
                                 self->fetchStatus();
                             if (completion)
                                 completion(error);
                         });
                     });
}

void SyncState::login(const QString &email, const QString &password, const QString &serverURL,
                      CommandCompletion completion)
{
    QJsonObject params{{u"email"_s, email}, {u"password"_s, password}};
    if (!serverURL.isEmpty())
        params.insert(u"serverUrl"_s, serverURL);
    beginCommand();
    m_ipcClient.send(u"login"_s, params,
                     [self = QPointer<SyncState>(this),
                      completion = std::move(completion)](const IPCResult &result) mutable {
                         const std::optional<IPCError> error = failureOf(result);
                         // The form waits for this answer, so it comes also when the model is gone.
                         // Moved along, so the caller's callback ends its life on the main thread too.
                         onMainThread([self, completion = std::move(completion), error] {
                             if (!error && self)
                                 self->fetchStatus();
                             if (completion)
                                 completion(error);
                         });
                     });
}

void SyncState::logout()
{
    beginCommand();
    m_ipcClient.send(u"logout"_s, std::nullopt, [self = QPointer<SyncState>(this)](const IPCResult &result) {
        const std::optional<IPCError> error = failureOf(result);
        onMainThread([self, error] {
            if (!self)
                return;
            // A logout that did not happen must not look done: the state stays.
            if (error) {
                self->setCommandError(tr("Could not log out: %1").arg(DaemonText::shown(error->description())));
                return;
            }
            self->assign(self->m_status, SyncStatus::loggedOut, &SyncState::statusChanged);
            self->assign(self->m_userEmail, std::nullopt, &SyncState::userEmailChanged);
            self->assign(self->m_lastSync, std::nullopt, &SyncState::lastSyncChanged);
            emit self->stateChanged(SyncStatus::loggedOut);
            self->fetchStatus();
        });
    });
}

void SyncState::daemonLaunched()
{
    m_startupGraceEnds = m_steadyNow() + startupGrace;
}

void SyncState::setCommandError(std::optional<QString> error)
{
    if (error == m_commandError)
        return;
    assign(m_commandError, std::move(error), &SyncState::commandErrorChanged);
}

void SyncState::applyStatus(const StatusResponse &record)
{
    const SyncStatus previous = m_status;
    const bool hadInitialStatus = m_hasReceivedInitialStatus;
    m_hasReceivedInitialStatus = true;
    m_unreadableAnswersInARow = 0;
    m_startupGraceEnds.reset();
    // Only shown, never sent back: the panel's form of the daemon's texts.
    const auto shown = [](const std::optional<QString> &text) {
        return text ? std::optional(DaemonText::shown(*text)) : std::nullopt;
    };
    const std::optional<QString> userEmail = shown(record.userEmail);
    // The last sync belongs to the account it was made for.
    const bool sameAccount = userEmail && userEmail == m_userEmail;

    assign(m_status, record.state, &SyncState::statusChanged);
    assign(m_pendingUploads, record.pendingUploads, &SyncState::pendingUploadsChanged);
    assign(m_pendingDownloads, record.pendingDownloads, &SyncState::pendingDownloadsChanged);
    assign(m_syncFolder, record.syncFolder, &SyncState::syncFolderChanged);
    assign(m_serverURL, record.serverUrl, &SyncState::serverURLChanged);
    assign(m_userEmail, userEmail, &SyncState::userEmailChanged);
    assign(m_errorMessage, shown(record.errorMessage), &SyncState::errorMessageChanged);
    // An empty or absent text says nothing new for the same account; an
    // unreadable one clears the time.
    if (record.lastSync && !record.lastSync->isEmpty())
        assign(m_lastSync, parseLastSync(*record.lastSync), &SyncState::lastSyncChanged);
    else if (!sameAccount && m_lastSync)
        assign(m_lastSync, std::nullopt, &SyncState::lastSyncChanged);

    if (hadInitialStatus && m_status == previous)
        return;
    setCommandError(std::nullopt);
    emit stateChanged(m_status);
}

void SyncState::answerUnreadable()
{
    // One answer that cannot be read may be a slip; a second in a row means
    // the state shown can no longer be told, and must not outlive that.
    m_startupGraceEnds.reset();
    if (++m_unreadableAnswersInARow < 2)
        return;
    applyFailure(IPCError{tr("unreadable status answer"), IPCError::Kind::exchange});
}

void SyncState::applyFailure(const IPCError &error)
{
    if (error.kind != IPCError::Kind::cannotConnect)
        m_startupGraceEnds.reset();
    else if (m_startupGraceEnds && m_steadyNow() < *m_startupGraceEnds)
        return; // a daemon just launched is not listening yet

    assign(m_status, SyncStatus::error, &SyncState::statusChanged);
    // A daemon that answered is not "not responding", nor is a socket we refused to speak to.
    const bool answered = error.kind == IPCError::Kind::daemon || error.kind == IPCError::Kind::foreignSocket;
    const QString message = answered ? DaemonText::shown(error.description())
                                     : tr("Daemon not responding: %1").arg(DaemonText::shown(error.description()));
    assign(m_errorMessage, message, &SyncState::errorMessageChanged);
    // Every failed request is reported, so the icon keeps showing the outage.
    emit stateChanged(SyncStatus::error);
}

std::optional<QDateTime> SyncState::parseLastSync(const QString &text)
{
    // Read by hand rather than with a regular expression: it comes with every
    // answer, and the expression engine would be loaded for this alone.
    constexpr QStringView shape = u"dddd-dd-ddTdd:dd:dd";
    constexpr qsizetype zoneAt = shape.size();
    const auto fits = [&text](QStringView pattern, qsizetype at) {
        if (text.size() < at + pattern.size())
            return false;
        for (qsizetype i = 0; i < pattern.size(); ++i) {
            const char16_t c = text.at(at + i).unicode();
            if (pattern[i] == u'd' ? c < u'0' || c > u'9' : c != pattern[i].unicode())
                return false;
        }
        return true;
    };
    const auto number = [&text](qsizetype at, qsizetype digits) {
        int value = 0;
        for (qsizetype i = at; i < at + digits; ++i)
            value = value * 10 + (text.at(i).unicode() - u'0');
        return value;
    };
    const bool utc = text.size() == zoneAt + 1 && text.endsWith(u'Z');
    const bool offset = text.size() == zoneAt + 6 && (text.at(zoneAt) == u'+' || text.at(zoneAt) == u'-')
        && fits(u"dd:dd", zoneAt + 1);
    if (!fits(shape, 0) || (!utc && !offset))
        return std::nullopt;

    // Qt counts no year 0: ISO 8601 year 0000 is 1 BC.
    const int year = number(0, 4) == 0 ? -1 : number(0, 4);
    const QDate date(year, number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    int offsetSeconds = 0;
    if (offset) {
        const int hours = number(zoneAt + 1, 2);
        const int minutes = number(zoneAt + 4, 2);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 60 + minutes) * 60 * (text.at(zoneAt) == u'-' ? -1 : 1);
    }
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

QString SyncState::statusTextFor(SyncStatus status, qint64 pendingUploads, qint64 pendingDownloads,
                                 const std::optional<QString> &errorMessage)
{
    const QString text = statusLook(status).text;
    switch (status) {
    case SyncStatus::syncing: {
        qint64 sum = 0;
        if (__builtin_add_overflow(pendingUploads, pendingDownloads, &sum)) {
            // Counts of one sign overflow only together: a negative total shows
            // no count, a positive one still fits an unsigned 64-bit value.
            if (pendingUploads < 0)
                return text;
            return syncingFiles(QString::number(quint64(pendingUploads) + quint64(pendingDownloads)), INT_MAX);
        }
        if (sum < 1)
            return text;
        return syncingFiles(QString::number(sum), int(qMin(sum, qint64(INT_MAX))));
    }
    case SyncStatus::error:
        return errorMessage.value_or(text);
    case SyncStatus::synced:
    case SyncStatus::paused:
    case SyncStatus::loggedOut:
        break;
    }
    return text;
}

QString SyncState::lastSyncTextFor(const std::optional<QDateTime> &lastSync, const QDateTime &now,
                                   const QString &localeId)
{
    if (!lastSync || !lastSync->isValid() || !now.isValid())
        return {};

    RelativeDateTools *tools = relativeDateToolsFor(localeId);
    if (!tools)
        return {};
    icu::Calendar &calendar = *tools->calendar;

    // Walk from now towards the sync time, largest unit first; each step
    // consumes its whole units, so the first non-zero count names the unit.
    UErrorCode status = U_ZERO_ERROR;
    calendar.setTime(UDate(now.toMSecsSinceEpoch()), status);
    const UDate target = UDate(lastSync->toMSecsSinceEpoch());
    RelativeUnit chosen = relativeUnits.back();
    int32_t count = 0;
    for (const RelativeUnit &unit : relativeUnits) {
        count = calendar.fieldDifference(target, unit.field, status);
        if (count != 0) {
            chosen = unit;
            break;
        }
    }
    icu::UnicodeString phrase;
    tools->formatter->formatNumeric(double(count), chosen.unit, phrase, status);
    if (U_FAILURE(status))
        return {};
    // One text, so each language places ICU's phrase where it reads well.
    return tr("Last synced %1").arg(toQString(phrase));
}

#include "moc_sync_state.cpp"
