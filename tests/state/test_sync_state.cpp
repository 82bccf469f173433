#include "app/translations.h"
#include "platform/posix_io.h"
#include "scripted_daemon.h"
#include "state/sync_state.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QMetaProperty>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Reply = ScriptedDaemon::Reply;
using Text = std::function<QString()>;
Q_DECLARE_METATYPE(Text)
Q_DECLARE_METATYPE(Reply)

namespace {

QDateTime utc(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

Reply statusAnswer(const QString &state)
{
    return Reply::result(ScriptedDaemon::statusRecord(state));
}

namespace ModelRecord {

// A status record of `user`, or of nobody when that is empty.
QJsonObject withUser(const QString &state, const QString &user)
{
    QJsonObject record = ScriptedDaemon::statusRecord(state);
    if (!user.isEmpty())
        record.insert("userEmail"_L1, user);
    return record;
}

} // namespace ModelRecord

bool isStatus(const QJsonObject &request)
{
    return request.value("method"_L1).toString() == "status"_L1;
}

} // namespace

class TestSyncState : public QObject {
    Q_OBJECT
    const Translations m_english{QLocale(QLocale::English)};

public slots:
    // Any property's change signal ("...Changed"): records the property's name.
    void notified()
    {
        record(QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name()).chopped(7));
    }

private slots:
    void initTestCase()
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

    void init()
    {
        m_daemon = std::make_unique<ScriptedDaemon>(m_home.path() + u"/.tornel/daemon.sock"_s);
        QVERIFY(m_daemon->isListening());
        answerStatusWith(statusAnswer(u"synced"_s));
        m_state = std::make_unique<SyncState>();
        m_events.clear();
        m_callbacks.clear();
        m_offMainThread = false;
        const QMetaObject &meta = SyncState::staticMetaObject;
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("notified()"));
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
            connect(m_state.get(), meta.property(i).notifySignal(), this, slot, Qt::DirectConnection);
        connect(m_state.get(), &SyncState::stateChanged, this, [this](SyncStatus status) {
            m_callbacks.append(wireName(status));
            record(u"callback"_s);
        });
    }

    void cleanup()
    {
        // The daemon first: held connections end, so the client's workers need not be waited for.
        m_daemon.reset();
        m_state.reset();
        QVERIFY2(!m_offMainThread, "a property or the callback changed off the main thread");
    }

    // Steps: a state name answers one poll with it, "fail" fails one, "dropped"
    // answers one with no status record, "logout" logs out, and "gone" removes
    // the daemon (every later poll fails).
    void callbackRule_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("callbacks");
        QTest::newRow("first answer always, equal ones never") << u"logged_out logged_out"_s << u"logged_out"_s;
        QTest::newRow("only on a change") << u"synced synced paused paused"_s << u"synced paused"_s;
        QTest::newRow("every failure, and the first answer") << u"fail fail error error"_s << u"error error error"_s;
        QTest::newRow("error answer after a failure") << u"synced fail error synced"_s << u"synced error synced"_s;
        QTest::newRow("a confirmed logout sets the status compared with")
            << u"synced logout synced logout logged_out"_s << u"synced logged_out synced logged_out"_s;
        QTest::newRow("an undecodable answer dropped, two in a row fail")
            << u"synced dropped synced dropped paused dropped dropped"_s << u"synced paused error"_s;
        QTest::newRow("logout while unreachable changes nothing, the outage goes on")
            << u"synced gone logout fail"_s << u"synced error"_s;
    }

    void callbackRule()
    {
        QFETCH(QString, steps);
        QFETCH(QString, callbacks);
        for (const QString &step : steps.split(u' ')) {
            if (step == "gone"_L1) {
                m_daemon.reset();
            } else if (step == "dropped"_L1) {
                // Nothing to wait for but the request: a wrong change lands before the next step's.
                answerStatusWith(statusAnswer(u"Synced"_s));
                const qsizetype before = m_daemon->requestCount();
                m_state->fetchStatus();
                QVERIFY(QTest::qWaitFor([&] { return m_daemon->requestCount() > before; }, 5000));
            } else if (step == "logout"_L1) {
                // A daemon that logs out answers the refresh with its new state.
                if (m_daemon)
                    answerStatusWith(statusAnswer(u"logged_out"_s));
                QVERIFY(loggedOutOrRefused());
            } else {
                if (m_daemon)
                    answerStatusWith(step == "fail"_L1 ? Reply::error(u"disk full"_s) : statusAnswer(step));
                QVERIFY2(applyOne(), qPrintable(step));
            }
        }
        QTRY_COMPARE(m_callbacks.join(u' '), callbacks);
    }

    // What an answer, a failure and a logout assign, in order; failures keep the rest.
    void answersFailuresAndLogout()
    {
        m_state->setWallClock([] { return utc(2024, 5, 1, 10, 5, 0); });
        QJsonObject record{{"state"_L1, u"syncing"_s},         {"pendingUploads"_L1, 4},
                           {"pendingDownloads"_L1, 2},         {"syncFolder"_L1, u"/data/sync"_s},
                           {"serverUrl"_L1, u"https://x.org"_s}, {"userEmail"_L1, u"ann@example.org"_s},
                           {"errorMessage"_L1, u"slow"_s},     {"lastSync"_L1, u"2024-05-01T10:00:00+02:00"_s}};
        answerStatusWith(Reply::result(record));
        const QStringList answer{u"status"_s,    u"pendingUploads"_s, u"pendingDownloads"_s, u"syncFolder"_s,
                                 u"serverURL"_s, u"userEmail"_s,      u"errorMessage"_s,     u"lastSync"_s};
        QVERIFY(applyOne());
        QCOMPARE(m_events, answer + QStringList{u"callback"_s});
        QCOMPARE(m_state->lastSyncText(), u"Last synced 2 hours ago"_s);
        // Equal values are announced all the same; empty, null or absent times say nothing new.
        for (const QJsonValue &nothingNew : {QJsonValue(u""_s), QJsonValue(QJsonValue::Null), QJsonValue()}) {
            m_events.clear();
            record.insert("lastSync"_L1, nothingNew); // undefined removes it
            answerStatusWith(Reply::result(record));
            QVERIFY(applyOne());
            QCOMPARE(m_events, answer.first(7));
        }
        const auto rest = [this] {
            return QVariantList{m_state->pendingUploads(), m_state->pendingDownloads(), m_state->syncFolder(),
                                m_state->serverURL(), m_state->userEmail().value_or(QString()),
                                m_state->lastSync().value_or(QDateTime())};
        };
        const QVariantList answered = rest();

        m_events.clear();
        answerStatusWith(Reply::closeWithoutAnswer());
        QVERIFY(applyOne());
        QCOMPARE(m_events, (QStringList{u"status"_s, u"errorMessage"_s, u"callback"_s}));
        QCOMPARE(m_state->statusText(), u"Daemon not responding: No response from daemon"_s);
        QCOMPARE(rest(), answered);

        // A logout the daemon confirms: the logged-out state at once, then the daemon's own view.
        m_events.clear();
        answerStatusWith(statusAnswer(u"logged_out"_s));
        QVERIFY(loggedOutOrRefused());
        QCOMPARE(m_events.first(5), (QStringList{u"status"_s, u"userEmail"_s, u"lastSync"_s, u"callback"_s, u"status"_s}));
        QCOMPARE(m_state->userEmail(), std::nullopt);

        // An unreadable time clears the one before.
        record.insert("lastSync"_L1, u"2024-05-01T10:00:00.123Z"_s);
        answerStatusWith(Reply::result(record));
        QVERIFY(applyOne());
        QCOMPARE(m_state->lastSync(), std::nullopt);
        QCOMPARE(m_state->lastSyncText(), QString());
    }

    // A late answer never undoes a newer one. `step` is sent after a poll
    // that the daemon answers `lateMs` late with the state it had then; the
    // refresh after a command is answered `refreshMs` late.
    void answersInOrder_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<int>("lateMs");
        QTest::addColumn<int>("refreshMs");
        QTest::addColumn<QString>("callbacks");
        QTest::newRow("a newer poll") << u"poll"_s << 1500 << 0 << u"syncing synced"_s;
        QTest::newRow("a pause") << u"pause"_s << 1500 << 0 << u"syncing paused"_s;
        QTest::newRow("a logout, the old poll answered before the refresh") << u"logout"_s << 700 << 1500
                                                                            << u"syncing logged_out"_s;
    }

    void answersInOrder()
    {
        QFETCH(QString, step);
        QFETCH(int, lateMs);
        QFETCH(int, refreshMs);
        QFETCH(QString, callbacks);
        QVERIFY(applied([this] {
            answerStatusWith(statusAnswer(u"syncing"_s));
            m_state->fetchStatus();
        }));
        std::mutex mutex;
        QString daemonState = step == "poll"_L1 ? u"paused"_s : u"syncing"_s;
        int statusRequests = 0;
        bool commanded = false;
        m_daemon->setResponder([&](const QJsonObject &request) {
            std::lock_guard lock(mutex);
            const QString method = request.value("method"_L1).toString();
            if (method != "status"_L1) {
                daemonState = method == "pause"_L1 ? u"paused"_s : u"logged_out"_s;
                commanded = true;
                return Reply::result(QJsonObject());
            }
            Reply reply = statusAnswer(daemonState);
            reply.delayMs = statusRequests++ == 0 ? lateMs : commanded ? refreshMs : 0;
            return reply;
        });
        m_state->fetchStatus();
        QTRY_COMPARE(m_daemon->requestCount(), 2);
        if (step == "poll"_L1) {
            std::lock_guard lock(mutex);
            daemonState = u"synced"_s;
        }
        step == "poll"_L1 ? m_state->fetchStatus() : step == "pause"_L1 ? m_state->pause() : m_state->logout();
        // Until every scripted answer is in.
        QTest::qWait(qMax(lateMs, refreshMs) + 500);
        QCOMPARE(m_callbacks.join(u' '), callbacks);
    }

    // A logout the daemon refuses changes no state and says why; the next command clears that.
    void refusedLogout()
    {
        m_daemon->setResponder([](const QJsonObject &request) {
            return isStatus(request) ? Reply::result(ModelRecord::withUser(u"synced"_s, u"ann@example.org"_s))
                                     : Reply::error(u"Not now"_s);
        });
        QVERIFY(applyOne());
        QVERIFY(loggedOutOrRefused());
        QCOMPARE(m_state->status(), SyncStatus::synced);
        QCOMPARE(m_state->userEmail(), u"ann@example.org"_s);
        QCOMPARE(m_state->commandError(), u"Could not log out: Not now"_s);
        m_state->pause();
        QCOMPARE(m_state->commandError(), std::nullopt);
    }

    // The last sync after a first answer for ann with a time, then `user` with `lastSync`.
    void lastSyncBelongsToItsAccount_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QJsonValue>("lastSync");
        QTest::addColumn<QString>("shown");
        const QString first = u"2024-05-01T10:00:00Z"_s;
        QTest::newRow("same account, empty time") << u"ann@example.org"_s << QJsonValue(u""_s) << first;
        QTest::newRow("same account, no time") << u"ann@example.org"_s << QJsonValue() << first;
        QTest::newRow("nobody logged in") << QString() << QJsonValue() << QString();
        QTest::newRow("another account, no time") << u"bob@example.org"_s << QJsonValue() << QString();
        QTest::newRow("another account, its own time")
            << u"bob@example.org"_s << QJsonValue(u"2024-05-02T08:00:00Z"_s) << u"2024-05-02T08:00:00Z"_s;
    }

    void lastSyncBelongsToItsAccount()
    {
        QFETCH(QString, user);
        QFETCH(QJsonValue, lastSync);
        QFETCH(QString, shown);
        QJsonObject record = ModelRecord::withUser(u"synced"_s, u"ann@example.org"_s);
        record.insert("lastSync"_L1, u"2024-05-01T10:00:00Z"_s);
        answerStatusWith(Reply::result(record));
        QVERIFY(applyOne());
        record = ModelRecord::withUser(u"syncing"_s, user);
        record.insert("lastSync"_L1, lastSync); // undefined removes it
        answerStatusWith(Reply::result(record));
        QVERIFY(applyOne());
        QCOMPARE(m_state->lastSync().value_or(QDateTime()).toString(Qt::ISODate), shown);
    }

    // What a failed poll shows: the daemon's own error as it is, a failure of the link as silence.
    void failureTexts_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<int>("polls");
        QTest::addColumn<QString>("shown");
        QTest::newRow("the daemon's error") << Reply::error(u"Simulated daemon failure"_s) << 1
                                            << u"Simulated daemon failure"_s;
        QTest::newRow("no answer") << Reply::closeWithoutAnswer() << 1 << u"Daemon not responding: No response from daemon"_s;
        QTest::newRow("one unreadable record") << statusAnswer(u"Synced"_s) << 1 << u"All files up to date"_s;
        QTest::newRow("two unreadable records") << statusAnswer(u"Synced"_s) << 2
                                                << u"Daemon not responding: unreadable status answer"_s;
    }

    void failureTexts()
    {
        QFETCH(Reply, reply);
        QFETCH(int, polls);
        QFETCH(QString, shown);
        QVERIFY(applyOne());
        answerStatusWith(reply);
        for (int i = 0; i < polls; ++i) {
            const qsizetype before = m_daemon->requestCount();
            m_state->fetchStatus();
            QTRY_VERIFY(m_daemon->requestCount() > before);
        }
        QTRY_COMPARE(m_state->statusText(), shown);
    }

    // From a launch until the socket first answers, within the grace, a poll
    // that cannot connect keeps what is shown; afterwards failures count.
    void startUpGrace()
    {
        auto now = std::chrono::steady_clock::now();
        m_state->setSteadyClock([&now] { return now; });
        const auto pollWithoutDaemon = [this] {
            m_daemon.reset();
            m_state->fetchStatus();
            QTest::qWait(300); // a connect to no socket fails at once
            m_daemon = std::make_unique<ScriptedDaemon>(m_home.path() + u"/.tornel/daemon.sock"_s);
        };
        m_state->daemonLaunched();
        pollWithoutDaemon();
        QCOMPARE(m_events, QStringList());
        now += SyncState::startupGrace + std::chrono::seconds(1);
        pollWithoutDaemon();
        QTRY_COMPARE(m_callbacks, QStringList{u"error"_s});

        m_state->daemonLaunched();
        pollWithoutDaemon();
        QCOMPARE(m_callbacks.size(), 1);
        answerStatusWith(statusAnswer(u"synced"_s));
        QVERIFY(applyOne());
        pollWithoutDaemon();
        QTRY_COMPARE(m_callbacks, (QStringList{u"error"_s, u"synced"_s, u"error"_s}));
    }

    // The pure helpers behind the texts: each row computes one text.
    void texts_data()
    {
        QTest::addColumn<Text>("text");
        QTest::addColumn<QString>("expected");
        using S = SyncStatus;
        const auto status = [](const char *name, S status, qint64 up, qint64 down, const QString &expected,
                               std::optional<QString> error = std::nullopt) {
            QTest::addRow("status: %s", name) << Text([=] { return SyncState::statusTextFor(status, up, down, error); })
                                              << expected;
        };
        constexpr qint64 max = std::numeric_limits<qint64>::max();
        status("syncing none", S::syncing, 0, 0, u"Syncing..."_s);
        status("syncing, sum negative", S::syncing, -5, 3, u"Syncing..."_s);
        status("syncing one down", S::syncing, 0, 1, u"Syncing 1 file..."_s);
        status("syncing, no grouping", S::syncing, 1000, 234, u"Syncing 1234 files..."_s);
        status("syncing beyond int64", S::syncing, max, max, u"Syncing 18446744073709551614 files..."_s);
        status("syncing below int64", S::syncing, -max - 1, -1, u"Syncing..."_s);
        status("synced", S::synced, 5, 0, u"All files up to date"_s);
        status("paused", S::paused, 0, 0, u"Sync paused"_s);
        status("error absent", S::error, 0, 0, u"Sync error"_s);
        status("error empty", S::error, 0, 0, QString(), u""_s);
        status("error text", S::error, 0, 0, u"Quota"_s, u"Quota"_s);
        status("logged out", S::loggedOut, 0, 0, u"Not logged in"_s, u"x"_s);

        // In UTC, empty when refused.
        const auto parsed = [](const char *name, const QString &text, const QString &expected) {
            QTest::addRow("lastSync: %s", name) << Text([=] {
                const std::optional<QDateTime> time = SyncState::parseLastSync(text);
                const QString iso = time && time->timeSpec() == Qt::UTC ? time->toString(Qt::ISODate) : u"not UTC"_s;
                return !time ? QString() : iso.isEmpty() ? u"outside years 0 to 9999"_s : iso;
            }) << expected;
        };
        parsed("Z", u"2024-05-01T10:00:00Z"_s, u"2024-05-01T10:00:00Z"_s);
        parsed("east", u"2024-05-01T10:00:00+02:00"_s, u"2024-05-01T08:00:00Z"_s);
        parsed("west, into the next year", u"2024-12-31T23:30:00-05:30"_s, u"2025-01-01T05:00:00Z"_s);
        parsed("no leap day", u"2023-02-29T10:00:00Z"_s, QString());
        parsed("hour 24", u"2024-05-01T24:00:00Z"_s, QString());
        parsed("fraction", u"2024-05-01T10:00:00.123Z"_s, QString());
        parsed("no zone", u"2024-05-01T10:00:00"_s, QString());
        parsed("offset without colon", u"2024-05-01T10:00:00+0200"_s, QString());
        parsed("offset hours 24", u"2024-05-01T10:00:00+24:00"_s, QString());
        parsed("offset minutes 60", u"2024-05-01T10:00:00+01:60"_s, QString());
        parsed("trailing newline", u"2024-05-01T10:00:00Z\n"_s, QString());
        parsed("non-ASCII digits", u"\u0662\u0660\u0662\u0664-05-01T10:00:00Z"_s, QString());

        // Half past midnight: some rows reach back into the day before.
        const QDateTime now = utc(2024, 5, 15, 0, 30, 0);
        const auto phrase = [now](const char *name, std::optional<QDateTime> lastSync, const QString &expected,
                                  const QString &locale = u"en_US"_s) {
            QTest::addRow("phrase: %s", name) << Text([=] { return SyncState::lastSyncTextFor(lastSync, now, locale); })
                                              << expected;
        };
        const auto ago = [now](qint64 seconds) { return std::optional(now.addSecs(-seconds)); };
        phrase("absent", std::nullopt, QString());
        phrase("now", ago(0), u"Last synced in 0 seconds"_s);
        phrase("seconds", ago(42), u"Last synced 42 seconds ago"_s);
        phrase("whole minutes", ago(5 * 60 + 59), u"Last synced 5 minutes ago"_s);
        // Whole units elapsed, not calendar fields that differ.
        phrase("minutes over midnight", ago(40 * 60), u"Last synced 40 minutes ago"_s);
        phrase("one hour", ago(90 * 60), u"Last synced 1 hour ago"_s);
        phrase("days", ago(3 * 86400 + 7200), u"Last synced 3 days ago"_s);
        phrase("weeks", ago(15 * 86400), u"Last synced 2 weeks ago"_s);
        phrase("month", utc(2024, 4, 10, 9, 0, 0), u"Last synced 1 month ago"_s);
        phrase("years", utc(2022, 1, 1, 0, 0, 0), u"Last synced 2 years ago"_s);
        phrase("future", ago(-2 * 3600), u"Last synced in 2 hours"_s);
        phrase("German", ago(5 * 60), u"Last synced vor 5 Minuten"_s, u"de_DE"_s);
    }

    void texts()
    {
        QFETCH(Text, text);
        QFETCH(QString, expected);
        QCOMPARE(text(), expected);
    }

    void pollTimer()
    {
        // Unanswered polls: later ticks must not wait for them.
        answerStatusWith(Reply::silent());
        m_state->startPolling();
        m_state->startPolling();
        const QList<QTimer *> timers = m_state->findChildren<QTimer *>();
        QCOMPARE(timers.size(), 1);
        QCOMPARE(timers.first()->interval(), 2000);
        // The first request leaves at once, not with the first tick.
        QVERIFY(QTest::qWaitFor([&] { return m_daemon->requestCount() == 1; }, 1500));
        QVERIFY(QTest::qWaitFor([&] { return m_daemon->requestCount() >= 3; }, 7000));

        m_state->stopPolling();
        QVERIFY(!timers.first()->isActive()); // deleted later, when events run
        const qsizetype sent = m_daemon->requestCount();
        m_state->startPolling();
        QVERIFY(QTest::qWaitFor([&] { return m_daemon->requestCount() > sent; }, 1500));
    }

    // Each command once; the daemon refuses it with `error`, or accepts it when
    // that is empty. `methods`: what the daemon received, refreshes included.
    void commands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("serverURL");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QByteArray>("params");
        QTest::addColumn<QString>("methods");
        const QByteArray typed("{'email':' ann@example.org ','password':''}");
        QTest::newRow("pause refused") << u"pause"_s << QString() << u"no"_s << QByteArray() << u"pause status"_s;
        QTest::newRow("resume refused") << u"resume"_s << QString() << u"no"_s << QByteArray() << u"resume status"_s;
        QTest::newRow("login without server") << u"login"_s << QString() << QString() << typed << u"login status"_s;
        QTest::newRow("login, spaces are a server") << u"login"_s << u" "_s << QString()
                                                    << typed.chopped(1) + ",'serverUrl':' '}" << u"login status"_s;
        QTest::newRow("login refused") << u"login"_s << QString() << u"Invalid"_s << typed << u"login"_s;
    }

    void commands()
    {
        QFETCH(QString, command);
        QFETCH(QString, serverURL);
        QFETCH(QString, error);
        QFETCH(QByteArray, params);
        QFETCH(QString, methods);
        m_daemon->setResponder([error](const QJsonObject &request) {
            return isStatus(request) || error.isEmpty() ? statusAnswer(u"synced"_s) : Reply::error(error);
        });
        QList<std::optional<IPCError>> outcomes;
        if (command == "login"_L1) {
            m_state->login(u" ann@example.org "_s, QString(), serverURL, [&](const std::optional<IPCError> &failure) {
                outcomes << failure;
                record(u"completion"_s);
            });
            QVERIFY(outcomes.isEmpty());
            QTRY_COMPARE(outcomes, QList{error.isEmpty() ? std::nullopt : std::optional(IPCError{error, IPCError::Kind::daemon})});
        } else {
            command == "pause"_L1 ? m_state->pause() : m_state->resume();
        }
        // A wrong or second refresh would be on its way already.
        QVERIFY(QTest::qWaitFor([&] { return m_daemon->requestCount() >= methods.count(u' ') + 1; }, 5000));
        QTest::qWait(300);
        QCOMPARE(m_daemon->methods().join(u' '), methods);
        const QJsonObject sent = m_daemon->requests().first();
        const QJsonDocument sentParams(sent["params"_L1].toObject());
        QCOMPARE(sent.contains("params"_L1) ? sentParams.toJson(QJsonDocument::Compact) : QByteArray(),
                 params.replace('\'', '"'));
        if (!methods.contains(u"status"_s))
            QCOMPARE(m_events, QStringList{u"completion"_s});
    }

    // A daemon alive but accepting nothing (its listen queue full) holds each
    // connect for the deadline, never for good: a login is answered and the
    // polls go on failing in their turn.
    void daemonThatAcceptsNothing()
    {
        m_daemon.reset();
        const QByteArray path = QFile::encodeName(m_home.path() + u"/.tornel/daemon.sock"_s);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const auto *where = reinterpret_cast<const sockaddr *>(&address);
        const int listener = PosixIo::unixStreamSocket();
        const int queued = PosixIo::unixStreamSocket();
        // Closing the listener releases the connects still waiting.
        const auto closeBoth = qScopeGuard([&] { ::close(listener), ::close(queued); });
        QVERIFY(::bind(listener, where, sizeof(address)) == 0 && ::listen(listener, 0) == 0);
        QCOMPARE(::connect(queued, where, sizeof(address)), 0); // fills the queue

        std::optional<IPCError> loginError;
        m_state->startPolling();
        m_state->login(u"a@b"_s, u"c"_s, QString(), [&](const std::optional<IPCError> &error) { loginError = error; });
        const QString failed = u"Failed to connect to daemon at "_s + QFile::decodeName(path);
        QTRY_COMPARE_WITH_TIMEOUT(loginError, std::optional(IPCError{failed, IPCError::Kind::cannotConnect}), 13000);
        QTRY_COMPARE(m_state->errorMessage(), u"Daemon not responding: "_s + failed);
        const qsizetype failures = m_callbacks.size();
        QTRY_VERIFY_WITH_TIMEOUT(m_callbacks.size() >= failures + 2, 6000);
    }

    void destroyedWhileRequestsInFlight()
    {
        m_daemon->setResponder([](const QJsonObject &request) {
            Reply reply = Reply::result(isStatus(request) ? ScriptedDaemon::statusRecord(u"synced"_s) : QJsonObject());
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
        QCOMPARE(m_events.size(), 0);
        QCOMPARE(m_daemon->methods().count(u"status"_s), 1);
    }

private:
    void answerStatusWith(const Reply &reply)
    {
        m_daemon->setResponder(
            [reply](const QJsonObject &request) { return isStatus(request) ? reply : Reply::result(QJsonObject()); });
    }

    // Runs `action` and waits until a status (an answer, a failure or a logout) is applied.
    template <typename Action>
    bool applied(Action action)
    {
        const qsizetype before = m_events.count(u"status"_s);
        action();
        return QTest::qWaitFor([&] { return m_events.count(u"status"_s) > before; }, 5000);
    }

    // Logs out and waits until the daemon refused it, or until the logout and
    // the refresh after it are both applied.
    bool loggedOutOrRefused()
    {
        const qsizetype statuses = m_events.count(u"status"_s);
        const qsizetype refusals = m_events.count(u"commandError"_s);
        m_state->logout();
        return QTest::qWaitFor([&] {
            return m_events.count(u"commandError"_s) > refusals || m_events.count(u"status"_s) >= statuses + 2;
        }, 5000);
    }

    bool applyOne()
    {
        return applied([this] { m_state->fetchStatus(); });
    }

    void record(const QString &event)
    {
        m_events.append(event);
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            m_offMainThread = true;
    }

    QTemporaryDir m_home;
    std::unique_ptr<ScriptedDaemon> m_daemon;
    std::unique_ptr<SyncState> m_state;
    QStringList m_events;
    QStringList m_callbacks;
    bool m_offMainThread = false;
};

QTEST_GUILESS_MAIN(TestSyncState)
#include "test_sync_state.moc"
