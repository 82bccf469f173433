#include "scripted_daemon.h"
#include "state/sync_state.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

using Reply = ScriptedDaemon::Reply;

QJsonObject statusObject(const QString &state, QJsonObject extra = {})
{
    QJsonObject object = ScriptedDaemon::statusRecord(state);
    for (auto it = extra.begin(); it != extra.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

QDateTime utc(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

} // namespace

class TestSyncState : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void callbackRule_data();
    void callbackRule();
    void assignmentOrder();
    void failuresKeepTheRest();
    void droppedResults();
    void statusTextFor_data();
    void statusTextFor();
    void parseLastSync_data();
    void parseLastSync();
    void lastSyncFromAnswers();
    void lastSyncTextFor_data();
    void lastSyncTextFor();
    void pollTimer();
    void login_data();
    void login();
    void loginFailure();
    void pauseAfterFailedRequest();
    void logoutWhileUnreachable();
    void destroyedWhileRequestsInFlight();

private:
    QString socketPath() const { return m_home.path() + u"/.tornel/daemon.sock"_s; }
    void answerStatusWith(const Reply &reply);
    // Sends one "status" and waits until its answer or failure is applied.
    bool applyOne();
    bool waitForStatusRequests(qsizetype count);
    void record(const QString &event);

    QTemporaryDir m_home;
    std::unique_ptr<ScriptedDaemon> m_daemon;
    std::unique_ptr<SyncState> m_state;
    QStringList m_events;
    QList<SyncStatus> m_callbacks;
    int m_applied = 0;
    bool m_offMainThread = false;
};

void TestSyncState::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toUtf8());
    QVERIFY(QDir(m_home.path()).mkpath(u".tornel"_s));
    // The relative phrase depends on the locale and, for calendar units, the zone.
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    QVERIFY(U_SUCCESS(status));
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("Etc/UTC"));
}

void TestSyncState::init()
{
    m_daemon = std::make_unique<ScriptedDaemon>(socketPath());
    QVERIFY(m_daemon->isListening());
    answerStatusWith(Reply::result(statusObject(u"synced"_s)));
    m_state = std::make_unique<SyncState>();
    m_events.clear();
    m_callbacks.clear();
    m_applied = 0;
    m_offMainThread = false;

    SyncState *state = m_state.get();
    const auto watch = [this, state](auto signal, const QString &name) {
        connect(state, signal, this, [this, name] { record(name); }, Qt::DirectConnection);
    };
    watch(&SyncState::statusChanged, u"status"_s);
    watch(&SyncState::pendingUploadsChanged, u"pendingUploads"_s);
    watch(&SyncState::pendingDownloadsChanged, u"pendingDownloads"_s);
    watch(&SyncState::lastSyncChanged, u"lastSync"_s);
    watch(&SyncState::syncFolderChanged, u"syncFolder"_s);
    watch(&SyncState::serverURLChanged, u"serverURL"_s);
    watch(&SyncState::userEmailChanged, u"userEmail"_s);
    watch(&SyncState::errorMessageChanged, u"errorMessage"_s);
    connect(state, &SyncState::statusChanged, this, [this] { ++m_applied; }, Qt::DirectConnection);
    m_state->onStateChange = [this](SyncStatus status) {
        m_callbacks.append(status);
        record(u"callback"_s);
    };
}

void TestSyncState::cleanup()
{
    // The daemon goes first so that held connections end and the client's
    // workers are not kept waiting while the state is destroyed.
    m_daemon.reset();
    m_state.reset();
    QVERIFY2(!m_offMainThread, "a property or the callback changed off the main thread");
}

void TestSyncState::record(const QString &event)
{
    m_events.append(event);
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        m_offMainThread = true;
}

void TestSyncState::answerStatusWith(const Reply &reply)
{
    m_daemon->setResponder([reply](const QJsonObject &request) {
        return request.value("method"_L1).toString() == "status"_L1 ? reply : Reply::result(QJsonObject());
    });
}

bool TestSyncState::applyOne()
{
    const int before = m_applied;
    m_state->fetchStatus();
    return QTest::qWaitFor([&] { return m_applied > before; }, 5000);
}

bool TestSyncState::waitForStatusRequests(qsizetype count)
{
    return QTest::qWaitFor([&] { return m_daemon->methods().count(u"status"_s) >= count; }, 5000);
}

void TestSyncState::callbackRule_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<SyncStatus>>("expected");
    using S = SyncStatus;
    QTest::newRow("first answer always, equal ones never")
        << QStringList{u"logged_out"_s, u"logged_out"_s} << QList<S>{S::loggedOut};
    QTest::newRow("only on a change") << QStringList{u"synced"_s, u"synced"_s, u"paused"_s, u"paused"_s}
                                      << QList<S>{S::synced, S::paused};
    QTest::newRow("every failure; first answer even when equal")
        << QStringList{u"fail"_s, u"fail"_s, u"error"_s, u"error"_s} << QList<S>{S::error, S::error, S::error};
    QTest::newRow("error answer after a failure is no change")
        << QStringList{u"synced"_s, u"fail"_s, u"error"_s, u"synced"_s} << QList<S>{S::synced, S::error, S::synced};
    QTest::newRow("logout sets the status compared with")
        << QStringList{u"synced"_s, u"logout"_s, u"synced"_s, u"logout"_s, u"logged_out"_s}
        << QList<S>{S::synced, S::loggedOut, S::synced, S::loggedOut};
}

void TestSyncState::callbackRule()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<SyncStatus>, expected);
    for (const QString &step : steps) {
        if (step == "logout"_L1) {
            const int before = m_applied;
            m_state->logout();
            QVERIFY(QTest::qWaitFor([&] { return m_applied > before; }, 5000));
            continue;
        }
        answerStatusWith(step == "fail"_L1 ? Reply::error(u"disk full"_s) : Reply::result(statusObject(step)));
        QVERIFY2(applyOne(), qPrintable(step));
    }
    QCOMPARE(m_callbacks, expected);
}

void TestSyncState::assignmentOrder()
{
    answerStatusWith(Reply::result(statusObject(u"syncing"_s, {{"lastSync"_L1, u"2024-05-01T10:00:00Z"_s},
                                                         {"userEmail"_L1, u"ann@example.org"_s},
                                                         {"errorMessage"_L1, u"slow"_s}})));
    const QStringList answer{u"status"_s,     u"pendingUploads"_s, u"pendingDownloads"_s,
                             u"syncFolder"_s, u"serverURL"_s,      u"userEmail"_s,
                             u"errorMessage"_s, u"lastSync"_s};
    QVERIFY(applyOne());
    QCOMPARE(m_events, answer + QStringList{u"callback"_s});

    // Equal values are announced all the same.
    m_events.clear();
    QVERIFY(applyOne());
    QCOMPARE(m_events, answer);

    m_events.clear();
    answerStatusWith(Reply::closeWithoutAnswer());
    QVERIFY(applyOne());
    QCOMPARE(m_events, (QStringList{u"status"_s, u"errorMessage"_s, u"callback"_s}));

    m_events.clear();
    m_state->logout();
    QTRY_COMPARE(m_events, (QStringList{u"status"_s, u"userEmail"_s, u"callback"_s}));
    QCOMPARE(m_state->status(), SyncStatus::loggedOut);
    QCOMPARE(m_state->userEmail(), std::nullopt);
}

void TestSyncState::failuresKeepTheRest()
{
    answerStatusWith(Reply::result(QJsonObject{{"state"_L1, u"syncing"_s},
                                               {"pendingUploads"_L1, 4},
                                               {"pendingDownloads"_L1, 2},
                                               {"syncFolder"_L1, u"/data/sync"_s},
                                               {"serverUrl"_L1, u"https://files.example.org"_s},
                                               {"userEmail"_L1, u"ann@example.org"_s},
                                               {"lastSync"_L1, u"2024-05-01T10:00:00+02:00"_s}}));
    QVERIFY(applyOne());
    QCOMPARE(m_state->statusText(), u"Syncing 6 files..."_s);

    const auto expectFailure = [this](const QString &reason) {
        QCOMPARE(m_state->status(), SyncStatus::error);
        QCOMPARE(m_state->errorMessage(), u"Daemon not responding: "_s + reason);
        QCOMPARE(m_state->statusText(), u"Daemon not responding: "_s + reason);
    };
    answerStatusWith(Reply::error(u"Database locked"_s));
    QVERIFY(applyOne());
    expectFailure(u"Database locked"_s);
    answerStatusWith(Reply::closeWithoutAnswer());
    QVERIFY(applyOne());
    expectFailure(u"No response from daemon"_s);
    m_daemon.reset();
    QVERIFY(applyOne());
    expectFailure(u"Failed to connect to daemon at "_s + m_home.path() + u"/.tornel/daemon.sock"_s);

    QCOMPARE(m_state->pendingUploads(), 4);
    QCOMPARE(m_state->pendingDownloads(), 2);
    QCOMPARE(m_state->syncFolder(), u"/data/sync"_s);
    QCOMPARE(m_state->serverURL(), u"https://files.example.org"_s);
    QCOMPARE(m_state->userEmail(), u"ann@example.org"_s);
    QCOMPARE(m_state->lastSync(), utc(2024, 5, 1, 8, 0, 0));
}

void TestSyncState::droppedResults()
{
    QJsonObject wrongCase = statusObject(u"Synced"_s);
    QJsonObject noFolder = statusObject(u"logged_out"_s);
    noFolder.remove("syncFolder"_L1);
    const QList<QJsonValue> dropped{3, u"synced"_s, QJsonValue::Null, QJsonArray{1, 2}, wrongCase, noFolder};
    // A dropped answer is never applied, so the only change comes from the
    // last answer, held back so that the others are long handled when it lands.
    auto served = std::make_shared<qsizetype>(0);
    m_daemon->setResponder([dropped, served](const QJsonObject &) {
        if (*served < dropped.size())
            return Reply::result(dropped[(*served)++]);
        Reply last = Reply::result(statusObject(u"paused"_s));
        last.delayMs = 300;
        return last;
    });
    for (qsizetype i = 0; i < dropped.size(); ++i)
        m_state->fetchStatus();
    QVERIFY(waitForStatusRequests(dropped.size()));
    QVERIFY(applyOne());
    QCOMPARE(m_applied, 1);
    QCOMPARE(m_callbacks, QList<SyncStatus>{SyncStatus::paused});
    QCOMPARE(m_state->status(), SyncStatus::paused);
}

void TestSyncState::statusTextFor_data()
{
    QTest::addColumn<SyncStatus>("status");
    QTest::addColumn<qint64>("uploads");
    QTest::addColumn<qint64>("downloads");
    QTest::addColumn<std::optional<QString>>("errorMessage");
    QTest::addColumn<QString>("expected");
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    const std::optional<QString> none;
    using S = SyncStatus;
    QTest::newRow("syncing none") << S::syncing << 0LL << 0LL << none << u"Syncing..."_s;
    QTest::newRow("syncing negative") << S::syncing << -5LL << 3LL << none << u"Syncing..."_s;
    QTest::newRow("syncing one up") << S::syncing << 1LL << 0LL << none << u"Syncing 1 file..."_s;
    QTest::newRow("syncing one down") << S::syncing << 0LL << 1LL << none << u"Syncing 1 file..."_s;
    QTest::newRow("syncing sum one") << S::syncing << 3LL << -2LL << none << u"Syncing 1 file..."_s;
    QTest::newRow("syncing three") << S::syncing << 3LL << 0LL << none << u"Syncing 3 files..."_s;
    QTest::newRow("syncing no grouping") << S::syncing << 1000LL << 234LL << none << u"Syncing 1234 files..."_s;
    QTest::newRow("syncing beyond int64") << S::syncing << max << max << none
                                          << u"Syncing 18446744073709551614 files..."_s;
    QTest::newRow("syncing just beyond") << S::syncing << max << 1LL << none
                                         << u"Syncing 9223372036854775808 files..."_s;
    QTest::newRow("syncing below int64") << S::syncing << min << -1LL << none << u"Syncing..."_s;
    QTest::newRow("synced") << S::synced << 5LL << 0LL << none << u"All files up to date"_s;
    QTest::newRow("paused") << S::paused << 0LL << 0LL << none << u"Sync paused"_s;
    QTest::newRow("error absent") << S::error << 0LL << 0LL << none << u"Sync error"_s;
    QTest::newRow("error empty") << S::error << 0LL << 0LL << std::optional<QString>(u""_s) << QString();
    QTest::newRow("error text") << S::error << 0LL << 0LL << std::optional<QString>(u"Quota"_s) << u"Quota"_s;
    QTest::newRow("logged out") << S::loggedOut << 0LL << 0LL << std::optional<QString>(u"x"_s)
                                << u"Not logged in"_s;
}

void TestSyncState::statusTextFor()
{
    QFETCH(SyncStatus, status);
    QFETCH(qint64, uploads);
    QFETCH(qint64, downloads);
    QFETCH(std::optional<QString>, errorMessage);
    QFETCH(QString, expected);
    QCOMPARE(SyncState::statusTextFor(status, uploads, downloads, errorMessage), expected);
}

void TestSyncState::parseLastSync_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<QDateTime>>("expected");
    const std::optional<QDateTime> refused;
    QTest::newRow("Z") << u"2024-05-01T10:00:00Z"_s << std::optional(utc(2024, 5, 1, 10, 0, 0));
    QTest::newRow("east") << u"2024-05-01T10:00:00+02:00"_s << std::optional(utc(2024, 5, 1, 8, 0, 0));
    QTest::newRow("west") << u"2024-12-31T23:30:00-05:30"_s << std::optional(utc(2025, 1, 1, 5, 0, 0));
    QTest::newRow("zero offset") << u"2024-05-01T10:00:00-00:00"_s << std::optional(utc(2024, 5, 1, 10, 0, 0));
    QTest::newRow("leap day") << u"2024-02-29T23:59:59Z"_s << std::optional(utc(2024, 2, 29, 23, 59, 59));
    QTest::newRow("fraction") << u"2024-05-01T10:00:00.123Z"_s << refused;
    QTest::newRow("lower t") << u"2024-05-01t10:00:00Z"_s << refused;
    QTest::newRow("lower z") << u"2024-05-01T10:00:00z"_s << refused;
    QTest::newRow("space") << u"2024-05-01 10:00:00Z"_s << refused;
    QTest::newRow("no zone") << u"2024-05-01T10:00:00"_s << refused;
    QTest::newRow("no seconds") << u"2024-05-01T10:00Z"_s << refused;
    QTest::newRow("date only") << u"2024-05-01"_s << refused;
    QTest::newRow("basic format") << u"20240501T100000Z"_s << refused;
    QTest::newRow("offset no colon") << u"2024-05-01T10:00:00+0200"_s << refused;
    QTest::newRow("offset hours only") << u"2024-05-01T10:00:00+02"_s << refused;
    QTest::newRow("offset hours 24") << u"2024-05-01T10:00:00+24:00"_s << refused;
    QTest::newRow("offset minutes 60") << u"2024-05-01T10:00:00+01:60"_s << refused;
    QTest::newRow("no leap day") << u"2023-02-29T10:00:00Z"_s << refused;
    QTest::newRow("month 13") << u"2024-13-01T10:00:00Z"_s << refused;
    QTest::newRow("day 0") << u"2024-05-00T10:00:00Z"_s << refused;
    QTest::newRow("hour 24") << u"2024-05-01T24:00:00Z"_s << refused;
    QTest::newRow("leap second") << u"2024-06-30T23:59:60Z"_s << refused;
    QTest::newRow("five-digit year") << u"12024-05-01T10:00:00Z"_s << refused;
    QTest::newRow("short field") << u"2024-5-01T10:00:00Z"_s << refused;
    QTest::newRow("trailing newline") << u"2024-05-01T10:00:00Z\n"_s << refused;
    QTest::newRow("leading space") << u" 2024-05-01T10:00:00Z"_s << refused;
    QTest::newRow("non-ASCII digits") << u"\u0662\u0660\u0662\u0664-05-01T10:00:00Z"_s << refused;
    QTest::newRow("empty") << QString() << refused;
}

void TestSyncState::parseLastSync()
{
    QFETCH(QString, text);
    QFETCH(std::optional<QDateTime>, expected);
    QCOMPARE(SyncState::parseLastSync(text), expected);
}

void TestSyncState::lastSyncFromAnswers()
{
    m_state->setWallClock([] { return utc(2024, 5, 1, 10, 5, 0); });
    const auto answerWith = [this](const QJsonValue &lastSync) {
        QJsonObject object = statusObject(u"synced"_s);
        if (!lastSync.isUndefined())
            object.insert("lastSync"_L1, lastSync);
        answerStatusWith(Reply::result(object));
        return applyOne();
    };
    QCOMPARE(m_state->lastSyncText(), QString());
    QVERIFY(answerWith(u"2024-05-01T10:00:00Z"_s));
    QCOMPARE(m_state->lastSync(), utc(2024, 5, 1, 10, 0, 0));
    QCOMPARE(m_state->lastSyncText(), u"Last synced 5 minutes ago"_s);

    // Empty, null or absent say nothing new.
    QVERIFY(answerWith(u""_s));
    QVERIFY(answerWith(QJsonValue::Null));
    QVERIFY(answerWith(QJsonValue::Undefined));
    QCOMPARE(m_state->lastSync(), utc(2024, 5, 1, 10, 0, 0));

    QVERIFY(answerWith(u"2024-05-01T10:00:00.123Z"_s));
    QCOMPARE(m_state->lastSync(), std::nullopt);
    QCOMPARE(m_state->lastSyncText(), QString());
    QCOMPARE(m_state->status(), SyncStatus::synced);
}

void TestSyncState::lastSyncTextFor_data()
{
    QTest::addColumn<std::optional<QDateTime>>("lastSync");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    const QDateTime now = utc(2024, 5, 15, 12, 0, 0);
    const auto ago = [now](qint64 seconds) { return std::optional(now.addSecs(-seconds)); };
    QTest::newRow("absent") << std::optional<QDateTime>() << now << u"en_US"_s << QString();
    QTest::newRow("seconds") << ago(42) << now << u"en_US"_s << u"Last synced 42 seconds ago"_s;
    QTest::newRow("now") << ago(0) << now << u"en_US"_s << u"Last synced in 0 seconds"_s;
    QTest::newRow("minutes") << ago(5 * 60 + 59) << now << u"en_US"_s << u"Last synced 5 minutes ago"_s;
    QTest::newRow("one hour") << ago(90 * 60) << now << u"en_US"_s << u"Last synced 1 hour ago"_s;
    QTest::newRow("days") << ago(3 * 86400 + 7200) << now << u"en_US"_s << u"Last synced 3 days ago"_s;
    QTest::newRow("weeks") << ago(15 * 86400) << now << u"en_US"_s << u"Last synced 2 weeks ago"_s;
    QTest::newRow("month") << std::optional(utc(2024, 4, 10, 9, 0, 0)) << now << u"en_US"_s
                           << u"Last synced 1 month ago"_s;
    QTest::newRow("years") << std::optional(utc(2022, 1, 1, 0, 0, 0)) << now << u"en_US"_s
                           << u"Last synced 2 years ago"_s;
    QTest::newRow("future") << ago(-2 * 3600) << now << u"en_US"_s << u"Last synced in 2 hours"_s;
    QTest::newRow("German") << ago(5 * 60) << now << u"de_DE"_s << u"Last synced vor 5 Minuten"_s;
    // Whole units elapsed, not calendar fields that differ.
    QTest::newRow("over midnight") << std::optional(utc(2024, 5, 14, 23, 50, 0)) << utc(2024, 5, 15, 0, 30, 0)
                                   << u"en_US"_s << u"Last synced 40 minutes ago"_s;
    QTest::newRow("over month end") << std::optional(utc(2024, 4, 30, 12, 0, 0)) << utc(2024, 5, 1, 11, 0, 0)
                                    << u"en_US"_s << u"Last synced 23 hours ago"_s;
}

void TestSyncState::lastSyncTextFor()
{
    QFETCH(std::optional<QDateTime>, lastSync);
    QFETCH(QDateTime, now);
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QCOMPARE(SyncState::lastSyncTextFor(lastSync, now, locale), expected);
}

void TestSyncState::pollTimer()
{
    // Unanswered polls: later ticks must not wait for them.
    answerStatusWith(Reply::silent());
    m_state->startPolling();
    const QList<QTimer *> timers = m_state->findChildren<QTimer *>();
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first()->interval(), 2000);
    QSignalSpy ticks(timers.first(), &QTimer::timeout);
    QVERIFY(waitForStatusRequests(1));
    QCOMPARE(ticks.size(), 0);

    m_state->startPolling();
    QCOMPARE(m_state->findChildren<QTimer *>().size(), 1);
    QVERIFY(QTest::qWaitFor([&] { return m_daemon->methods().count(u"status"_s) >= 3; }, 7000));

    m_state->stopPolling();
    const auto active = [this] {
        const QList<QTimer *> children = m_state->findChildren<QTimer *>();
        return std::count_if(children.begin(), children.end(), [](QTimer *timer) { return timer->isActive(); });
    };
    QCOMPARE(active(), 0);
    const qsizetype sent = m_daemon->requestCount();
    m_state->startPolling();
    QCOMPARE(active(), 1);
    QVERIFY(waitForStatusRequests(sent + 1));
}

void TestSyncState::login_data()
{
    QTest::addColumn<QString>("serverURL");
    QTest::addColumn<QJsonObject>("expected");
    const QJsonObject base{{"email"_L1, u" ann@example.org "_s}, {"password"_L1, u""_s}};
    QTest::newRow("no server") << QString() << base;
    QJsonObject withServer = base;
    withServer.insert("serverUrl"_L1, u" https://files.example.org "_s);
    QTest::newRow("server kept as typed") << u" https://files.example.org "_s << withServer;
    withServer.insert("serverUrl"_L1, u" "_s);
    QTest::newRow("spaces are a server") << u" "_s << withServer;
}

void TestSyncState::login()
{
    QFETCH(QString, serverURL);
    QFETCH(QJsonObject, expected);
    int calls = 0;
    std::optional<IPCError> outcome{IPCError{u"not called"_s}};
    m_state->login(u" ann@example.org "_s, QString(), serverURL, [&](const std::optional<IPCError> &error) {
        ++calls;
        outcome = error;
        record(u"completion"_s);
    });
    QCOMPARE(calls, 0);
    QTRY_COMPARE(calls, 1);
    QCOMPARE(outcome, std::nullopt);
    // A successful login refreshes the status.
    QVERIFY(waitForStatusRequests(1));
    const QJsonObject request = m_daemon->requests().first();
    QCOMPARE(request.value("method"_L1).toString(), u"login"_s);
    QCOMPARE(request.value("params"_L1).toObject(), expected);
}

void TestSyncState::loginFailure()
{
    m_daemon->setResponder([](const QJsonObject &) { return Reply::error(u"Invalid credentials"_s); });
    int calls = 0;
    std::optional<IPCError> outcome;
    m_state->login(u"ann@example.org"_s, u"pw"_s, QString(), [&](const std::optional<IPCError> &error) {
        ++calls;
        outcome = error;
        record(u"completion"_s);
    });
    QTRY_COMPARE(calls, 1);
    QCOMPARE(outcome, IPCError{u"Invalid credentials"_s});
    // Nothing is awaited here: a wrong refresh would be on its way already.
    QTest::qWait(300);
    QCOMPARE(m_daemon->methods(), QStringList{u"login"_s});
    QCOMPARE(m_events, QStringList{u"completion"_s});
}

void TestSyncState::pauseAfterFailedRequest()
{
    m_daemon->setResponder([](const QJsonObject &request) {
        return request.value("method"_L1).toString() == "status"_L1 ? Reply::result(statusObject(u"paused"_s))
                                                                    : Reply::error(u"cannot"_s);
    });
    qsizetype refreshes = 0;
    for (const QString &command : {u"pause"_s, u"resume"_s}) {
        const int before = m_applied;
        command == "pause"_L1 ? m_state->pause() : m_state->resume();
        QVERIFY(QTest::qWaitFor([&] { return m_applied > before; }, 5000));
        // A second refresh would have left together with the first.
        QTest::qWait(300);
        QCOMPARE(m_daemon->methods().count(u"status"_s), ++refreshes);
        QCOMPARE(m_daemon->methods().count(command), 1);
    }
    for (const QJsonObject &request : m_daemon->requests())
        QVERIFY(!request.contains("params"_L1));
    QCOMPARE(m_state->status(), SyncStatus::paused);
}

void TestSyncState::logoutWhileUnreachable()
{
    answerStatusWith(Reply::result(statusObject(u"synced"_s, {{"userEmail"_L1, u"ann@example.org"_s}})));
    QVERIFY(applyOne());
    m_daemon.reset();
    m_callbacks.clear();

    const int before = m_applied;
    m_state->logout();
    QVERIFY(QTest::qWaitFor([&] { return m_applied > before; }, 5000));
    QCOMPARE(m_state->status(), SyncStatus::loggedOut);
    QCOMPARE(m_state->userEmail(), std::nullopt);
    QCOMPARE(m_state->statusText(), u"Not logged in"_s);

    // The next poll brings the outage back.
    QVERIFY(applyOne());
    QCOMPARE(m_state->status(), SyncStatus::error);
    QCOMPARE(m_callbacks, (QList<SyncStatus>{SyncStatus::loggedOut, SyncStatus::error}));
}

void TestSyncState::destroyedWhileRequestsInFlight()
{
    m_daemon->setResponder([](const QJsonObject &request) {
        Reply reply = request.value("method"_L1).toString() == "status"_L1 ? Reply::result(statusObject(u"synced"_s))
                                                                           : Reply::result(QJsonObject());
        reply.delayMs = 1000;
        return reply;
    });
    int completions = 0;
    bool onMain = false;
    m_state->startPolling();
    m_state->pause();
    m_state->logout();
    m_state->login(u"a"_s, u"b"_s, QString(), [&](const std::optional<IPCError> &error) {
        ++completions;
        onMain = QThread::currentThread() == QCoreApplication::instance()->thread() && !error;
    });
    QVERIFY(QTest::qWaitFor([&] { return m_daemon->requestCount() == 4; }, 5000));
    m_state.reset();

    QTRY_COMPARE(completions, 1);
    QVERIFY(onMain);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(completions, 1);
    QCOMPARE(m_callbacks.size(), 0);
    QCOMPARE(m_events.size(), 0);
    QCOMPARE(m_daemon->methods().count(u"status"_s), 1);
}

QTEST_GUILESS_MAIN(TestSyncState)
#include "test_sync_state.moc"
