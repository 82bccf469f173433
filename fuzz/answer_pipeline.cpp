// The road of one status answer: the bytes the daemon sent, the client's
// framing decision and interpretation, the status record, and the texts the
// panel shows. Besides the sanitizers it checks what the client relies on.
#include "daemon/ipc_client.h"
#include "daemon/status_response.h"
#include "state/sync_state.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>
#include <cstdio>

namespace {

using namespace Qt::StringLiterals;

void require(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// The receive loop stops reading once answerMayContinue says no. For a JSON
// text that parses, that must be at its end and nowhere before the closing
// bracket; otherwise an answer that comes in pieces is cut short.
void checkFraming(const QByteArray &bytes)
{
    const bool mayContinue = IPCClient::answerMayContinue(bytes);
    QJsonParseError error;
    QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return;
    require(!mayContinue, "a complete JSON text is reported as unfinished");

    qsizetype closer = bytes.size() - 1;
    while (closer >= 0 && QByteArrayView(" \t\r\n").contains(bytes[closer]))
        --closer;
    for (const qsizetype cut : {closer, closer / 2, qsizetype(1)}) {
        if (cut > 0 && cut <= closer)
            require(IPCClient::answerMayContinue(bytes.first(cut)), "a JSON text is reported complete before its end");
    }
}

void checkTexts(const StatusResponse &record)
{
    const QString status = SyncState::statusTextFor(record.state, record.pendingUploads, record.pendingDownloads,
                                                    record.errorMessage);
    // Only the daemon's own empty error message may leave the line blank.
    require(!status.isEmpty() || (record.state == SyncStatus::error && record.errorMessage == u""_s),
            "an empty status text");

    if (!record.lastSync)
        return;
    const std::optional<QDateTime> lastSync = SyncState::parseLastSync(*record.lastSync);
    if (!lastSync)
        return;
    require(lastSync->isValid() && lastSync->timeSpec() == Qt::UTC, "a parsed sync time that is not a valid UTC time");
    const QDate date = lastSync->date();
    if (date.year() >= 1 && date.year() <= 9999) {
        const QString written = lastSync->toString(u"yyyy-MM-ddTHH:mm:ss'Z'"_s);
        require(SyncState::parseLastSync(written) == lastSync, "a sync time does not survive being written again");
    }
    static const QDateTime now(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);
    const QString text = SyncState::lastSyncTextFor(lastSync, now, u"en_US"_s);
    require(text.startsWith(u"Last synced "_s), "no relative phrase for a readable sync time");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    checkFraming(bytes);

    const IPCResult result = IPCClient::interpretAnswer(bytes);
    if (const auto *error = std::get_if<IPCError>(&result)) {
        const QString shown = SyncState::statusTextFor(SyncStatus::error, 0, 0,
                                                       u"Daemon not responding: "_s + error->description());
        require(shown.startsWith(u"Daemon not responding: "_s), "a failed request is not shown as one");
        return 0;
    }
    if (const std::optional<StatusResponse> record = StatusResponse::decode(std::get<QJsonValue>(result)))
        checkTexts(*record);
    return 0;
}
