// Which events become notifications, which replace which, and when: scripts
// of events at whole seconds, run against the policy on a test clock.
#include "notify/notification_policy.h"

#include <QDir>
#include <QTest>

namespace {

using namespace std::chrono_literals;
using TimePoint = NotificationPolicy::TimePoint;

// Runs `script` ("<second> <event>[:<argument>]" per step) against a server that numbers new notifications
// from 1. Each one shown reads "<second> #<id> <summary>", or "<second> #<id> <body>" when it offers Retry;
// one taken back reads "<second> close #<id>". "dismissed:<id>" is a close by the user, "expired:<id>" one
// by the server.
QStringList run(const QStringList &script)
{
    TimePoint now{};
    NotificationPolicy policy([&now] { return now; });
    QStringList seen;
    quint32 lastId = 0;
    const auto deliverUntil = [&](TimePoint end) {
        for (std::optional<TimePoint> due; (due = policy.nextDue()) && *due <= end;) {
            now = std::max(now, *due);
            const std::optional<Notice> notice = policy.takeDue();
            const quint32 id = notice->replacesId ? notice->replacesId : ++lastId;
            policy.shown(notice->topic, id);
            const QString &text = notice->action == Notice::Action::retrySync ? notice->body : notice->summary;
            seen << QStringLiteral("%1 #%2 %3").arg(now.time_since_epoch() / 1s).arg(id).arg(text);
        }
        now = end;
    };
    for (const QString &step : script) {
        deliverUntil(TimePoint(std::chrono::seconds(step.section(u' ', 0, 0).toInt())));
        const QString event = step.section(u' ', 1).section(u':', 0, 0);
        const QString argument = step.section(u':', 1);
        if (event == u"error")
            policy.statusObserved(SyncStatus::error, argument);
        else if (const std::optional<SyncStatus> status = syncStatusFromWire(event))
            policy.statusObserved(*status, std::nullopt);
        else if (event == u"gave-up")
            policy.serviceGaveUp(QString());
        else if (event == u"ended")
            policy.serviceEnded(QString());
        else if (event == u"not-found")
            policy.serviceNotFound({QStringLiteral("/opt/tornel")});
        else if (event == u"no-tray")
            policy.trayMissing();
        else if (event == u"dismissed" || event == u"expired")
            policy.closed(argument.toUInt(), event == u"dismissed");
        else if (const std::optional<quint32> withdrawn = policy.trayAppeared())
            seen << QStringLiteral("%1 close #%2").arg(now.time_since_epoch() / 1s).arg(*withdrawn);
        deliverUntil(now);
    }
    deliverUntil(now + 60s);
    return seen;
}

} // namespace

class NotificationPolicyTest : public QObject {
    Q_OBJECT
private slots:
    void scripts_data();
    void scripts();
    void missingServiceNamesWhereTornelLooked();
};

void NotificationPolicyTest::scripts_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("seen");
    const QString again = QStringLiteral("Syncing works again");
    QTest::newRow("the status found at start-up, and syncing, paused or logged out, tell nothing")
        << QStringList{"0 error:A", "2 error:B", "4 synced", "6 paused", "8 synced", "10 logged_out", "12 syncing"}
        << QStringList{};
    QTest::newRow("an error is told after two polls, follows its message in place; recovery replaces it")
        << QStringList{"0 synced", "1 error:A", "3 error:A", "5 syncing", "7 error:A", "12 error:B", "20 synced"}
        << QStringList{"5 #1 A", "15 #1 B", "25 #1 " + again};
    QTest::newRow("an error over within two polls tells nothing")
        << QStringList{"0 synced", "1 error:A", "3 synced", "10 error:B", "12 error:C", "13 paused"} << QStringList{};
    QTest::newRow("one per 10 s, the latest wins; a new episode replaces the recovery")
        << QStringList{"0 synced", "1 error:A", "2 error:B", "4 error:C", "6 synced", "15 error:D"}
        << QStringList{"5 #1 C", "15 #1 " + again, "25 #1 D"};
    QTest::newRow("an episode over before its turn tells nothing, the recovery still comes")
        << QStringList{"0 synced", "1 error:A", "6 synced", "8 error:B", "10 synced"}
        << QStringList{"5 #1 A", "15 #1 " + again};
    QTest::newRow("one the user closed stays closed; the recovery comes as a new one")
        << QStringList{"0 synced", "1 error:A", "6 dismissed:1", "16 error:B", "18 synced"}
        << QStringList{"5 #1 A", "18 #2 " + again};
    QTest::newRow("one that expired comes back with the next message")
        << QStringList{"0 synced", "1 error:A", "6 expired:1", "16 error:B", "18 synced"}
        << QStringList{"5 #1 A", "16 #2 B", "26 #2 " + again};
    QTest::newRow("a failing or ended service is told once; the failed polls after it tell nothing")
        << QStringList{"0 synced",  "1 gave-up", "2 error:Daemon not responding", "15 error:Other",
                       "20 synced", "30 ended",  "31 error:Daemon not responding"}
        << QStringList{"1 #1 The sync service keeps failing", "20 #1 " + again, "30 #1 The sync service has stopped"};
    QTest::newRow("topics never replace each other and take turns in order of arrival")
        << QStringList{"0 synced", "1 error:A", "6 no-tray", "7 error:B"}
        << QStringList{"5 #1 A", "15 #2 Tornel is running", "25 #1 B"};
    QTest::newRow("a tray that appears takes back the notification about its absence, shown or waiting")
        << QStringList{"5 no-tray", "8 tray", "9 synced", "10 error:A", "12 no-tray", "14 tray"}
        << QStringList{"5 #1 Tornel is running", "8 close #1", "15 #2 A"};
}

void NotificationPolicyTest::scripts()
{
    QFETCH(QStringList, script);
    QFETCH(QStringList, seen);
    QCOMPARE(run(script), seen);
}

void NotificationPolicyTest::missingServiceNamesWhereTornelLooked()
{
    NotificationPolicy policy;
    policy.serviceNotFound({QStringLiteral("/usr/bin"), QDir::homePath() + QStringLiteral("/.tornel/bin")});
    QVERIFY(policy.takeDue()->body.contains(u"no tornel-sync in /usr/bin, ~/.tornel/bin or on your PATH. Install"));
}

QTEST_APPLESS_MAIN(NotificationPolicyTest)
#include "test_notification_policy.moc"
