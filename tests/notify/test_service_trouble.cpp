// The built companion against a notification server and a tray on a bus and
// an X server of the test's own, with daemons that start slowly, crash, vanish, end or keep
// failing: what the icon and the notifications say, and the way back.
#include "companion_process.h"
#include "fake_desktop_services.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <csignal>

#include <unistd.h>

namespace {

constexpr int waitMs = 20000;
const QString syncError = QStringLiteral("Sync error");

} // namespace

class ServiceTroubleTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void slowStartAndQuickRestartRaiseNoAlarm();
    void unreachableDaemonIsToldAfterTwoPolls();
    void endedAndFailingServiceIsRestartedFromItsNotification();
    void startedWithOutputClosedItHangsNowhere();

private:
    void startCompanion();
    // What the tray reads for the icon: "Tornel" until a status is known.
    QString iconDescription();
    qint64 stdoutCount(const QByteArray &line) { return m_companion->standardOutput().count(line); }

    FakeDesktop m_desktop;
    FakeNotificationServer &m_notifications = m_desktop.notifications;
    FakeStatusNotifierWatcher m_tray;
    std::unique_ptr<CompanionProcess> m_companion;
};

void ServiceTroubleTest::initTestCase()
{
    // Qt's tray icon speaks to the desktop's tray over the bus on X11, not on the offscreen platform.
    QVERIFY2(m_desktop.start(), "no X server or bus (scripts/install-deps installs Xvfb and D-Bus)");
    QVERIFY(m_tray.serve());
}

void ServiceTroubleTest::init()
{
    m_companion = std::make_unique<CompanionProcess>();
    m_notifications.shown.clear();
    m_tray.items.clear();
    QVERIFY(m_companion->isValid());
}

void ServiceTroubleTest::cleanup()
{
    QVERIFY2(m_companion->endWithSignal(SIGTERM, waitMs), m_companion->standardError().constData());
}

void ServiceTroubleTest::startCompanion()
{
    m_companion->start({}, m_desktop.companionEnvironment());
    QTRY_COMPARE_WITH_TIMEOUT(m_tray.items.size(), 1, waitMs);
}

QString ServiceTroubleTest::iconDescription()
{
    QDBusMessage get =
        QDBusMessage::createMethodCall(m_tray.items.constFirst(), QStringLiteral("/StatusNotifierItem"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
    // (icon name, icon pixmaps, title, description)
    const QDBusArgument toolTip = reply.arguments().value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
    QString name, title, description;
    toolTip.beginStructure();
    toolTip >> name;
    toolTip.beginArray();
    while (!toolTip.atEnd()) {
        toolTip.beginStructure();
        int width = 0, height = 0;
        QByteArray pixels;
        toolTip >> width >> height >> pixels;
        toolTip.endStructure();
    }
    toolTip.endArray();
    toolTip >> title >> description;
    toolTip.endStructure();
    return title;
}

// A daemon that listens only 3 s after its launch is no outage, and neither
// is one that crashes and runs again within a second.
void ServiceTroubleTest::slowStartAndQuickRestartRaiseNoAlarm()
{
    QVERIFY(m_companion->installStandInDaemon(
        "[ -e \"$HOME/ran\" ] || { touch \"$HOME/ran\"; sleep 3; (sleep 5; kill -KILL $$) & }"));
    startCompanion();
    QStringList seen;
    for (QElapsedTimer sinceStart; !sinceStart.isValid() || sinceStart.elapsed() < 7000; QTest::qWait(100)) {
        if (!sinceStart.isValid())
            sinceStart.start();
        const QString description = iconDescription();
        if (seen.isEmpty() || seen.last() != description)
            seen << description;
    }
    QCOMPARE(seen, (QStringList{QStringLiteral("Tornel"), QStringLiteral("Tornel — Not logged in")}));

    QTRY_COMPARE_WITH_TIMEOUT(m_companion->daemonPids().size(), 2, waitMs);
    QTest::qWait(8000); // two polls and the hold of a notification, twice over
    QCOMPARE(iconDescription(), QStringLiteral("Tornel — Not logged in"));
    QCOMPARE(m_notifications.about({syncError}).size(), 0);
}

// A daemon whose socket is gone is told about two polls later, in a
// notification that stays until the error is over.
void ServiceTroubleTest::unreachableDaemonIsToldAfterTwoPolls()
{
    QVERIFY(m_companion->installStandInDaemon("(sleep 3; rm -f \"$HOME/.tornel/daemon.sock\") &"));
    startCompanion();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_companion->socketPath()), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(m_companion->socketPath()), waitMs);
    const qint64 goneAtMs = m_notifications.clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(m_notifications.about({syncError}).size(), 1, waitMs);
    const FakeNotificationServer::Notification told = m_notifications.about({syncError}).constFirst();
    QVERIFY2(told.atMs - goneAtMs >= 3500 && told.atMs - goneAtMs <= 7500,
             qPrintable(QString::number(told.atMs - goneAtMs)));
    QCOMPARE(told.body,
             QStringLiteral("Daemon not responding: Failed to connect to daemon at ") + m_companion->socketPath());
    QVERIFY(told.urgency == 1 && told.expireTimeout == 0 && told.actions.contains(QStringLiteral("retry")));
    QCOMPARE(iconDescription(), QStringLiteral("Tornel — Error"));
}

// A daemon that ends by itself is told, not restarted, and runs again from
// the notification; one that then keeps failing is given up, told with its
// last words, and restarted from the notification with a fresh window.
void ServiceTroubleTest::endedAndFailingServiceIsRestartedFromItsNotification()
{
    QVERIFY(m_companion->installDaemon("#!/bin/sh\n"
                                       "[ -e \"$HOME/ran\" ] && { echo 'disk on fire'; exit 3; }\n"
                                       "touch \"$HOME/ran\"; echo 'no account configured'; sleep 1; exit 0\n"));
    startCompanion();
    const QString stopped = QStringLiteral("The sync service has stopped");
    const QString failing = QStringLiteral("The sync service keeps failing");
    QTRY_COMPARE_WITH_TIMEOUT(m_notifications.about({stopped}).size(), 1, waitMs);
    const FakeNotificationServer::Notification ended = m_notifications.about({stopped}).constFirst();
    QVERIFY2(ended.body.endsWith(QStringLiteral("\nIts last output: no account configured")), qPrintable(ended.body));
    QCOMPARE(ended.actions, QStringList({"default", "Open Tornel", "restart", "Restart Sync Service"}));
    QVERIFY(ended.urgency == 2 && ended.expireTimeout == 0);
    QTest::qWait(2000); // longer than a first restart's delay
    QCOMPARE(m_companion->daemonPids().size(), 1);

    emit m_notifications.ActionInvoked(uint(ended.id), QStringLiteral("restart"));
    QTRY_COMPARE_WITH_TIMEOUT(m_notifications.about({failing}).size(), 1, waitMs);
    const FakeNotificationServer::Notification gaveUp = m_notifications.about({failing}).constFirst();
    QVERIFY(gaveUp.replacesId == ended.id && gaveUp.urgency == 2
            && gaveUp.body.endsWith(u"Its last output: disk on fire\nThe service's log is in "
                                    u"~/.local/state/tornel/daemon.log."));
    QCOMPARE(m_companion->daemonPids().size(), 5);
    QVERIFY(!gaveUp.body.contains(u"terminal") && !gaveUp.body.contains(u"quit"));

    emit m_notifications.ActionInvoked(uint(gaveUp.id), QStringLiteral("restart"));
    QTRY_COMPARE_WITH_TIMEOUT(stdoutCount("[daemon] Restarting in 1.0s (attempt 1/3)"), 2, waitMs);
    QCOMPARE(m_notifications.about({syncError}).size(), 0);
}

// Some launchers start programs with standard output and error closed: the
// next descriptors opened (the X server's connection among them) must not
// take their numbers, or the daemon's lines would be written into them.
void ServiceTroubleTest::startedWithOutputClosedItHangsNowhere()
{
    QVERIFY(m_companion->installStandInDaemon());
    m_companion->process().setChildProcessModifier([] {
        ::close(STDOUT_FILENO);
        ::close(STDERR_FILENO);
    });
    startCompanion();
    QTRY_COMPARE_WITH_TIMEOUT(iconDescription(), QStringLiteral("Tornel — Not logged in"), waitMs);
    QTest::qWait(3000); // polls, and their lines written somewhere harmless
    QCOMPARE(iconDescription(), QStringLiteral("Tornel — Not logged in"));
}

QTEST_GUILESS_MAIN(ServiceTroubleTest)
#include "test_service_trouble.moc"
