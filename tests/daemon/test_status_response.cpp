#include "daemon/status_response.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(StatusResponse)

namespace {

// Test data writes JSON with apostrophes for quotes: readable, and no raw
// strings, whose braces and quotes moc misreads.
QByteArray json(const QByteArray &text)
{
    return QByteArray(text).replace('\'', '"');
}

// A JSON value of any kind, also a scalar, from its text.
QJsonValue jsonValue(const QByteArray &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson('[' + text + ']', &error);
    if (error.error != QJsonParseError::NoError || document.array().size() != 1)
        qFatal("bad test data: %s", text.constData());
    return document.array().at(0);
}

QJsonObject minimalRecord()
{
    return QJsonObject{{u"state"_s, u"synced"_s},
                       {u"pendingUploads"_s, 0},
                       {u"pendingDownloads"_s, 0},
                       {u"syncFolder"_s, u"~/Tornel"_s},
                       {u"serverUrl"_s, u"http://localhost:8080"_s}};
}

// The minimal record with the members of `changes` put over it.
QJsonObject minimalRecordWith(const QByteArray &changes)
{
    QJsonObject record = minimalRecord();
    const QJsonObject overrides = jsonValue(changes).toObject();
    for (auto it = overrides.begin(); it != overrides.end(); ++it)
        record.insert(it.key(), it.value());
    return record;
}

StatusResponse record(SyncStatus state, qint64 uploads = 0, qint64 downloads = 0)
{
    StatusResponse expected;
    expected.state = state;
    expected.pendingUploads = uploads;
    expected.pendingDownloads = downloads;
    expected.syncFolder = u"~/Tornel"_s;
    expected.serverUrl = u"http://localhost:8080"_s;
    return expected;
}

QString describe(const std::optional<QString> &text)
{
    return text ? u'"' + *text + u'"' : u"absent"_s;
}

} // namespace

char *toString(const StatusResponse &r)
{
    return QTest::toString(u"%1 up %2 down %3 last %4 folder \"%5\" server \"%6\" user %7 error %8"_s.arg(
        wireName(r.state), QString::number(r.pendingUploads), QString::number(r.pendingDownloads), describe(r.lastSync),
        r.syncFolder, r.serverUrl, describe(r.userEmail), describe(r.errorMessage)));
}

class TestStatusResponse : public QObject {
    Q_OBJECT

private slots:
    void wireNames()
    {
        const QStringList names{u"syncing"_s, u"synced"_s, u"paused"_s, u"error"_s, u"logged_out"_s};
        for (int i = 0; i < names.size(); ++i) {
            const auto status = SyncStatus(i);
            QCOMPARE(wireName(status), names[i]);
            QVERIFY(syncStatusFromWire(names[i]) == status);
        }
        for (const QString &name : {u"loggedOut"_s, u"Synced"_s, u"idle"_s, QString()})
            QVERIFY2(!syncStatusFromWire(name), qPrintable(name));
    }

    void decodes_data()
    {
        QTest::addColumn<QByteArray>("changes");
        QTest::addColumn<StatusResponse>("expected");

        QTest::newRow("required keys only") << QByteArray("{}") << record(SyncStatus::synced);

        StatusResponse full = record(SyncStatus::error, 4, 2);
        full.lastSync = u"2024-05-01T10:00:00Z"_s;
        full.userEmail = u"ann@example.org"_s;
        full.errorMessage = u"Disk full"_s;
        QTest::newRow("every key") << json("{'state':'error','pendingUploads':4,'pendingDownloads':2,"
                                                 "'lastSync':'2024-05-01T10:00:00Z','userEmail':'ann@example.org',"
                                                 "'errorMessage':'Disk full'}")
                                   << full;

        QTest::newRow("optional keys null") << json("{'lastSync':null,'userEmail':null,'errorMessage':null}")
                                            << record(SyncStatus::synced);

        StatusResponse empties = record(SyncStatus::synced);
        empties.lastSync = empties.userEmail = empties.errorMessage = QString();
        QTest::newRow("optional keys empty") << json("{'lastSync':'','userEmail':'','errorMessage':''}") << empties;

        const QList<std::pair<SyncStatus, QByteArray>> states{{SyncStatus::syncing, "syncing"},
                                                               {SyncStatus::paused, "paused"},
                                                               {SyncStatus::error, "error"},
                                                               {SyncStatus::loggedOut, "logged_out"}};
        for (const auto &[state, name] : states)
            QTest::addRow("state %s", name.constData()) << json("{'state':'" + name + "'}") << record(state);

        StatusResponse loggedOut = record(SyncStatus::loggedOut);
        loggedOut.syncFolder = loggedOut.serverUrl = QString();
        QTest::newRow("logged out, empty folder and server")
            << json("{'state':'logged_out','syncFolder':'','serverUrl':''}") << loggedOut;

        QTest::newRow("counts as 3.0 and 1e2") << json("{'pendingUploads':3.0,'pendingDownloads':1e2}")
                                               << record(SyncStatus::synced, 3, 100);
        QTest::newRow("counts at the 64-bit limits")
            << json("{'pendingUploads':9223372036854775807,'pendingDownloads':-9223372036854775808}")
            << record(SyncStatus::synced, std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min());

        QTest::newRow("unknown keys ignored") << json("{'State':'bogus','serverURL':5,'extra':{'nested':[1]}}")
                                              << record(SyncStatus::synced);
    }

    void decodes()
    {
        QFETCH(QByteArray, changes);
        QFETCH(StatusResponse, expected);
        const std::optional<StatusResponse> decoded = StatusResponse::decode(minimalRecordWith(changes));
        QVERIFY(decoded);
        QCOMPARE(*decoded, expected);
    }

    // One key of an otherwise good record changed; `value` absent removes it.
    void rejectsChangedKey_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("value");

        for (const QString &key : {u"state"_s, u"pendingUploads"_s, u"pendingDownloads"_s, u"syncFolder"_s, u"serverUrl"_s}) {
            QTest::addRow("%s missing", qPrintable(key)) << key << QByteArray();
            QTest::addRow("%s null", qPrintable(key)) << key << QByteArray("null");
        }
        QTest::newRow("state as case name") << u"state"_s << json("'loggedOut'");
        QTest::newRow("state in other case") << u"state"_s << json("'Synced'");
        QTest::newRow("state outside the five") << u"state"_s << json("'idle'");
        QTest::newRow("state empty") << u"state"_s << json("''");
        QTest::newRow("state as number") << u"state"_s << QByteArray("1");

        QTest::newRow("count as string") << u"pendingUploads"_s << json("'3'");
        QTest::newRow("count with fraction") << u"pendingUploads"_s << QByteArray("3.5");
        QTest::newRow("count past int64 max") << u"pendingDownloads"_s << QByteArray("9223372036854775808");
        QTest::newRow("count past int64 min") << u"pendingDownloads"_s << QByteArray("-9999999999999999999");
        QTest::newRow("count huge") << u"pendingDownloads"_s << QByteArray("1e300");
        QTest::newRow("count as bool") << u"pendingUploads"_s << QByteArray("true");
        QTest::newRow("count as object") << u"pendingUploads"_s << json("{'n':1}");

        QTest::newRow("folder as number") << u"syncFolder"_s << QByteArray("0");
        QTest::newRow("server as array") << u"serverUrl"_s << json("['localhost']");

        QTest::newRow("lastSync as number") << u"lastSync"_s << QByteArray("1714557600");
        QTest::newRow("userEmail as number") << u"userEmail"_s << QByteArray("1");
        QTest::newRow("errorMessage as bool") << u"errorMessage"_s << QByteArray("false");
        QTest::newRow("errorMessage as object") << u"errorMessage"_s << json("{'message':'x'}");
    }

    void rejectsChangedKey()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, value);
        QJsonObject json = minimalRecord();
        QVERIFY(StatusResponse::decode(json));
        if (value.isEmpty())
            json.remove(key);
        else
            json.insert(key, jsonValue(value));
        QVERIFY(!StatusResponse::decode(json));
    }

    void rejectsOtherShapes_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("null") << QByteArray("null");
        QTest::newRow("number") << QByteArray("3");
        QTest::newRow("string") << json("'synced'");
        QTest::newRow("empty object") << QByteArray("{}");
        QTest::newRow("array holding a record") << QJsonDocument(QJsonArray{minimalRecord()}).toJson();
        QTest::newRow("logged out without folder")
            << json("{'state':'logged_out','pendingUploads':0,'pendingDownloads':0,'serverUrl':''}");
        QTest::newRow("keys in other case")
            << json("{'state':'synced','pendingUploads':0,'pendingDownloads':0,'SyncFolder':'~/Tornel',"
                          "'serverURL':'localhost'}");
    }

    void rejectsOtherShapes()
    {
        QFETCH(QByteArray, json);
        QVERIFY(!StatusResponse::decode(jsonValue(json)));
    }
};

QTEST_GUILESS_MAIN(TestStatusResponse)
#include "test_status_response.moc"
