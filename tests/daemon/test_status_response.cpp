#include "daemon/status_response.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

using Decoded = std::optional<StatusResponse>;
Q_DECLARE_METATYPE(Decoded)

namespace {

// A JSON value of any kind, also a scalar, from its text; apostrophes stand for quotes.
QJsonValue jsonValue(const QByteArray &text)
{
    const QJsonDocument document = QJsonDocument::fromJson('[' + QByteArray(text).replace('\'', '"') + ']');
    if (document.array().size() != 1)
        qFatal("bad test data: %s", text.constData());
    return document.array().at(0);
}

// A record with the required keys only, the members of `changes` put over it and `removed` taken out.
QJsonObject recordWith(const QByteArray &changes, const QString &removed = {})
{
    QJsonObject record{{u"state"_s, u"synced"_s},  {u"pendingUploads"_s, 0},
                       {u"pendingDownloads"_s, 0}, {u"syncFolder"_s, u"~/Tornel"_s},
                       {u"serverUrl"_s, u"http://localhost:8080"_s}};
    const QJsonObject overrides = jsonValue(changes).toObject();
    for (auto it = overrides.begin(); it != overrides.end(); ++it)
        record.insert(it.key(), it.value());
    record.remove(removed);
    return record;
}

StatusResponse decoded(SyncStatus state, qint64 uploads = 0, qint64 downloads = 0)
{
    return {state, uploads, downloads, std::nullopt, u"~/Tornel"_s, u"http://localhost:8080"_s, std::nullopt, std::nullopt};
}

} // namespace

char *toString(const Decoded &record)
{
    if (!record)
        return qstrdup("refused");
    const auto text = [](const std::optional<QString> &value) { return value ? u'"' + *value + u'"' : u"absent"_s; };
    const StatusResponse &r = *record;
    return QTest::toString(u"%1 up %2 down %3 last %4 folder %5 server %6 user %7 error %8"_s.arg(
        wireName(r.state), QString::number(r.pendingUploads), QString::number(r.pendingDownloads), text(r.lastSync),
        text(r.syncFolder), text(r.serverUrl), text(r.userEmail), text(r.errorMessage)));
}

class TestStatusResponse : public QObject {
    Q_OBJECT

private slots:
    void decode_data()
    {
        QTest::addColumn<QJsonValue>("result");
        QTest::addColumn<Decoded>("expected");
        const auto row = [](const char *name, const QJsonValue &result, const Decoded &expected) {
            QTest::newRow(name) << result << expected;
        };
        row("required keys only", recordWith("{}"), decoded(SyncStatus::synced));
        StatusResponse full = decoded(SyncStatus::error, 4, 2);
        full.lastSync = u"2024-05-01T10:00:00Z"_s;
        full.userEmail = u"ann@example.org"_s;
        full.errorMessage = u"Disk full"_s;
        row("every key", recordWith("{'state':'error','pendingUploads':4,'pendingDownloads':2,'lastSync':"
                                    "'2024-05-01T10:00:00Z','userEmail':'ann@example.org','errorMessage':'Disk full'}"),
            full);
        row("optional keys null", recordWith("{'lastSync':null,'userEmail':null,'errorMessage':null}"),
            decoded(SyncStatus::synced));
        StatusResponse empties = decoded(SyncStatus::loggedOut);
        empties.lastSync = empties.userEmail = empties.errorMessage = empties.syncFolder = empties.serverUrl = QString();
        row("logged out, strings empty",
            recordWith("{'state':'logged_out','syncFolder':'','serverUrl':'','lastSync':'','userEmail':'','errorMessage':''}"),
            empties);
        row("syncing", recordWith("{'state':'syncing'}"), decoded(SyncStatus::syncing));
        row("paused", recordWith("{'state':'paused'}"), decoded(SyncStatus::paused));
        row("counts as 3.0 and 1e2", recordWith("{'pendingUploads':3.0,'pendingDownloads':1e2}"),
            decoded(SyncStatus::synced, 3, 100));
        row("counts at the 64-bit limits",
            recordWith("{'pendingUploads':9223372036854775807,'pendingDownloads':-9223372036854775808}"),
            decoded(SyncStatus::synced, std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()));
        row("unknown keys ignored", recordWith("{'State':'bogus','serverURL':5,'extra':{'n':[1]}}"),
            decoded(SyncStatus::synced));

        for (const QString &key : {u"state"_s, u"pendingUploads"_s, u"pendingDownloads"_s, u"syncFolder"_s, u"serverUrl"_s})
            QTest::addRow("%s missing", qPrintable(key)) << QJsonValue(recordWith("{}", key)) << Decoded();
        row("folder null", recordWith("{'syncFolder':null}"), {});
        row("count null", recordWith("{'pendingDownloads':null}"), {});
        row("state as case name", recordWith("{'state':'loggedOut'}"), {});
        row("state in other case", recordWith("{'state':'Synced'}"), {});
        row("state as number", recordWith("{'state':1}"), {});
        row("count as string", recordWith("{'pendingUploads':'3'}"), {});
        row("count with fraction", recordWith("{'pendingUploads':3.5}"), {});
        row("count past int64 max", recordWith("{'pendingDownloads':9223372036854775808}"), {});
        row("count past int64 min", recordWith("{'pendingDownloads':-9999999999999999999}"), {});
        row("folder as number", recordWith("{'syncFolder':0}"), {});
        row("lastSync as number", recordWith("{'lastSync':1714557600}"), {});
        row("userEmail as number", recordWith("{'userEmail':1}"), {});
        row("errorMessage as bool", recordWith("{'errorMessage':false}"), {});
        row("result null", jsonValue("null"), {});
        row("result a string", jsonValue("'synced'"), {});
        row("result an array holding a record", QJsonArray{recordWith("{}")}, {});
    }

    void decode()
    {
        QFETCH(QJsonValue, result);
        QFETCH(Decoded, expected);
        QCOMPARE(StatusResponse::decode(result), expected);
    }
};

QTEST_GUILESS_MAIN(TestStatusResponse)
#include "test_status_response.moc"
