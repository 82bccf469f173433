#include "app/remote_command.h"

#include "daemon/ipc_client.h"
#include "daemon/status_response.h"
#include "state/sync_state.h"
#include "state/timed_pause.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QThread>

#include <cstdio>
#include <future>

namespace {

using namespace Qt::StringLiterals;

// How long a command waits for the companion, which may itself wait for the
// daemon's answer (bounded by the client's timeout).
constexpr int companionWaitMs = 12000;
// A companion asked to quit stops its daemon first, which may take its grace period.
constexpr int quitWaitMs = 10000;

constexpr int exitUpToDate = 0;
constexpr int exitNotSyncing = 1;
constexpr int exitNoAnswer = 2;

const char *requestOf(RemoteCommand::Kind kind)
{
    switch (kind) {
    case RemoteCommand::Kind::status:
        return "status";
    case RemoteCommand::Kind::pause:
        return "pause";
    case RemoteCommand::Kind::resume:
        return "resume";
    case RemoteCommand::Kind::quit:
        return "quit";
    }
    return "";
}

// The daemon's words on one line, with nothing in them that could drive a
// terminal or end the answer line early.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    return text;
}

void printLine(std::FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", qPrintable(oneLine(text)));
}

int exitFor(SyncStatus status)
{
    return status == SyncStatus::synced || status == SyncStatus::syncing ? exitUpToDate : exitNotSyncing;
}

// One request to the daemon's socket, waited for.
IPCResult askDaemon(const QString &method)
{
    IPCClient client;
    std::promise<IPCResult> answered;
    client.send(method, std::nullopt, [&answered](const IPCResult &result) { answered.set_value(result); });
    return answered.get_future().get();
}

QByteArray failureAnswer(const IPCError &error)
{
    return "error " + oneLine(error.description()).toUtf8();
}

} // namespace

void RemoteCommand::defineOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {u"status"_s,
         tr("Prints the state of syncing; exits with 0 when up to date or syncing, 1 when paused, "
            "logged out or failing, 2 when neither Tornel nor its sync service answers.")},
        {u"json"_s, tr("With --status: prints the sync service's status record as JSON.")},
        {u"pause"_s, tr("Pauses syncing; for DURATION (30m, 1h, 2h30m, until-tomorrow) when given after it.")},
        {u"resume"_s, tr("Resumes syncing.")},
        {u"open"_s, tr("Opens the panel of the running Tornel, or starts Tornel.")},
        {u"quit"_s, tr("Quits the running Tornel, which stops its sync service.")},
    });
}

RemoteCommand::Parsed RemoteCommand::fromParser(const QCommandLineParser &parser)
{
    const std::pair<const char *, std::optional<Kind>> commands[] = {
        {"status", Kind::status}, {"pause", Kind::pause}, {"resume", Kind::resume},
        {"quit", Kind::quit},     {"open", std::nullopt},
    };
    QStringList given;
    std::optional<Kind> kind;
    for (const auto &[name, command] : commands) {
        if (parser.isSet(QLatin1StringView(name))) {
            given << u"--"_s + QLatin1StringView(name);
            kind = command;
        }
    }
    if (given.size() > 1)
        return tr("Give one command at a time, not %1.").arg(given.join(u", "_s));
    const bool json = parser.isSet(u"json"_s);
    if (json && kind != Kind::status)
        return tr("--json goes with --status only.");
    if (!kind)
        return std::monostate();
    const QStringList arguments = parser.positionalArguments();
    if (kind == Kind::pause && arguments.size() == 1) {
        const std::optional<QDateTime> until =
            TimedPause::deadlineFor(arguments.first(), QDateTime::currentDateTimeUtc());
        if (!until)
            return tr("'%1' is no duration: give 30m, 1h, 2h30m or until-tomorrow.").arg(arguments.first());
        return RemoteCommand(*kind, json, until);
    }
    if (!arguments.isEmpty())
        return QCoreApplication::translate("TornelApp", "Unexpected argument '%1'.").arg(arguments.first());
    return RemoteCommand(*kind, json);
}

QByteArray RemoteCommand::request() const
{
    if (m_until)
        return "pause-until " + m_until->toString(Qt::ISODate).toLatin1();
    return requestOf(m_kind);
}

int RemoteCommand::run() const
{
    // The status record is the daemon's own: no companion stands between.
    if (m_json)
        return runAgainstDaemon();
    const SingleInstance::Asked asked = SingleInstance::ask(request(), companionWaitMs);
    if (asked.answer)
        return runThroughCompanion(*asked.answer);
    if (asked.running) {
        printLine(stderr, tr("Tornel is running but does not answer."));
        return m_kind == Kind::status ? exitNoAnswer : 1;
    }
    if (m_until) {
        printLine(stderr,
                  tr("Tornel is not running, and only it can end a pause: start Tornel, or pause without a duration."));
        return 1;
    }
    if (m_kind != Kind::quit)
        return runAgainstDaemon();
    printLine(stderr, tr("Tornel is not running."));
    return 1;
}

int RemoteCommand::runThroughCompanion(const QByteArray &answer) const
{
    if (answer.startsWith("error ")) {
        printLine(stderr, QString::fromUtf8(answer.sliced(6)));
        return 1;
    }
    if (m_kind == Kind::status) {
        // "ok <state> <text>"
        const QList<QByteArray> parts = answer.split(' ');
        const std::optional<SyncStatus> status =
            parts.size() > 2 ? syncStatusFromWire(QString::fromLatin1(parts[1])) : std::nullopt;
        if (!status) {
            printLine(stderr, tr("Tornel answered something unexpected."));
            return exitNoAnswer;
        }
        printLine(stdout, QString::fromUtf8(answer.sliced(parts[0].size() + parts[1].size() + 2)));
        return exitFor(*status);
    }
    if (answer != "ok") {
        printLine(stderr, tr("Tornel answered something unexpected."));
        return 1;
    }
    if (m_kind == Kind::quit) {
        // Scripts that start Tornel afresh next must not find the one quitting.
        for (int waited = 0; SingleInstance::ask({}, 0).running; waited += 100) {
            if (waited >= quitWaitMs) {
                printLine(stderr, tr("Tornel was asked to quit but is still running."));
                return 1;
            }
            QThread::msleep(100);
        }
    }
    return 0;
}

int RemoteCommand::runAgainstDaemon() const
{
    const IPCResult result = askDaemon(QString::fromLatin1(requestOf(m_kind)));
    if (const auto *error = std::get_if<IPCError>(&result)) {
        printLine(stderr,
                  m_kind == Kind::status
                      ? tr("Neither Tornel nor its sync service answers: %1").arg(error->description())
                      : error->description());
        return m_kind == Kind::status ? exitNoAnswer : 1;
    }
    if (m_kind != Kind::status)
        return 0;
    const QJsonValue value = std::get<QJsonValue>(result);
    const std::optional<StatusResponse> record = StatusResponse::decode(value);
    if (!record) {
        printLine(stderr, tr("The sync service's status is unreadable."));
        return exitNoAnswer;
    }
    if (m_json)
        std::printf("%s\n", QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact).constData());
    else
        printLine(stdout,
                  SyncState::statusTextFor(record->state, record->pendingUploads, record->pendingDownloads,
                                           record->errorMessage));
    return exitFor(record->state);
}

void RemoteCommand::answer(SyncState &state, const QByteArray &request, const SingleInstance::Reply &reply)
{
    const auto confirmed = [reply](const std::optional<IPCError> &error) {
        reply(error ? failureAnswer(*error) : "ok");
    };
    if (request == "status") {
        reply("ok " + wireName(state.status()).toUtf8() + ' ' + oneLine(state.statusText()).toUtf8());
    } else if (request == "pause") {
        state.pause(confirmed);
    } else if (request.startsWith("pause-until ")) {
        const QDateTime until = QDateTime::fromString(QString::fromLatin1(request.sliced(12)), Qt::ISODate);
        if (until.isValid())
            state.timedPause().pauseUntil(until.toUTC(), confirmed);
        else
            reply("error " + tr("Unknown request: %1").arg(oneLine(QString::fromUtf8(request))).toUtf8());
    } else if (request == "resume") {
        state.resume(confirmed);
    } else if (request == "quit") {
        reply("ok");
        QCoreApplication::quit();
    } else {
        reply("error " + tr("Unknown request: %1").arg(oneLine(QString::fromUtf8(request))).toUtf8());
    }
}
