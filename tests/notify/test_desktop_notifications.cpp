// The built companion on a bus and X server of the test's own, the test
// playing the desktop's notification server: what the user is told of a sync
// error and its recovery, of a daemon that is missing, and of a desktop
// without a tray, where a second start opens the panel as a window.
#include "companion_process.h"
#include "scripted_daemon.h"

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <xcb/xcb.h>

namespace {

constexpr int waitMs = 15000;

// Starts a server that prints one line once it serves (Xvfb its display
// number, dbus-daemon its address) and returns that line.
QByteArray startServer(QProcess &server, const QString &command)
{
    server.startCommand(command);
    const QDeadlineTimer deadline(waitMs);
    while (!server.canReadLine() && server.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return server.readLine().trimmed();
}

// Whether X window `id` is placed by the window manager rather than by itself, as a popup is.
bool isManagedWindow(quint32 id)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    xcb_get_window_attributes_reply_t *attributes =
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, id), nullptr);
    const bool managed = attributes && !attributes->override_redirect && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attributes);
    xcb_disconnect(connection);
    return managed;
}

} // namespace

// Records each notification; a server that reads markup and offers actions.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notification {
        QString appName, icon, summary, body;
        uint replacesId, id;
        QStringList actions;
        QVariantMap hints;
        qint64 atMs;
    };
    QList<Notification> shown;
    QElapsedTimer clock;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("body-markup"), QStringLiteral("actions")}; }
    uint Notify(const QString &appName, uint replacesId, const QString &icon, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int)
    {
        shown.append({appName, icon, summary, body, replacesId, replacesId ? replacesId : uint(shown.size() + 1), actions,
                      hints, clock.elapsed()});
        return shown.last().id;
    }

signals:
    void ActionInvoked(uint id, const QString &actionKey);
};

// A tray for the error test: a StatusNotifierItem watcher with a host.
class FakeStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
public:
    bool isHostRegistered() const { return true; }
public slots:
    void RegisterStatusNotifierItem(const QString &) {}
};

class DesktopNotificationsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void errorEpisodeIsOneNotificationFollowedInPlaceRetriedAndRecovered();
    void missingDaemonAndMissingTrayAreToldAndASecondStartOpensAWindow();

private:
    void startCompanion();

    QProcess m_xServer;
    QProcess m_bus;
    FakeNotificationServer m_server;
    std::unique_ptr<CompanionProcess> m_companion;
};

void DesktopNotificationsTest::initTestCase()
{
    qputenv("DISPLAY", ':' + startServer(m_xServer, QStringLiteral("Xvfb -displayfd 1 -nolisten tcp -screen 0 640x480x24")));
    qputenv("DBUS_SESSION_BUS_ADDRESS", startServer(m_bus, QStringLiteral("dbus-daemon --session --nofork --print-address=1")));
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY2(qgetenv("DISPLAY").size() > 1 && bus.isConnected(), "no X server or bus (scripts/install-deps installs them)");
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_server,
                               QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    m_server.clock.start();
}

void DesktopNotificationsTest::init()
{
    m_server.shown.clear();
    m_companion = std::make_unique<CompanionProcess>();
    QVERIFY(m_companion->isValid());
}

void DesktopNotificationsTest::startCompanion()
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const QString &name : {QStringLiteral("DISPLAY"), QStringLiteral("DBUS_SESSION_BUS_ADDRESS")})
        environment.insert(name, qEnvironmentVariable(qPrintable(name)));
    m_companion->start({}, environment);
}

// Found synced, then an error whose message changes: one notification,
// replaced in place no sooner than 10 s later. Its "Retry Sync" resumes the
// daemon, and the recovery replaces it once more.
void DesktopNotificationsTest::errorEpisodeIsOneNotificationFollowedInPlaceRetriedAndRecovered()
{
    std::mutex mutex;
    QString message; // empty while synced
    const auto setMessage = [&](const QString &text) { std::lock_guard lock(mutex); message = text; };
    ScriptedDaemon daemon(m_companion->socketPath(), [&](const QJsonObject &request) {
        std::lock_guard lock(mutex);
        if (request.value(QStringLiteral("method")).toString() == u"resume")
            message.clear();
        QJsonObject record = ScriptedDaemon::statusRecord(message.isEmpty() ? QStringLiteral("synced") : QStringLiteral("error"));
        if (!message.isEmpty())
            record.insert(QStringLiteral("errorMessage"), message);
        return ScriptedDaemon::Reply::result(record);
    });
    FakeStatusNotifierWatcher watcher;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, QDBusConnection::ExportAllContents));
    QVERIFY(bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    QVERIFY(daemon.isListening() && m_companion->installDaemon("#!/bin/sh\nexec sleep 600\n"));
    startCompanion();
    QTRY_VERIFY_WITH_TIMEOUT(daemon.requestCount() >= 2, waitMs);

    setMessage(QStringLiteral("Disk <full> & read-only"));
    QTRY_COMPARE_WITH_TIMEOUT(m_server.shown.size(), 1, waitMs);
    const FakeNotificationServer::Notification error = m_server.shown.first();
    QCOMPARE(QStringList({error.appName, error.icon, error.summary, error.body, error.hints.value("desktop-entry").toString()}),
             QStringList({"Tornel", "org.tornel.Tornel", "Sync error", "Disk &lt;full&gt; &amp; read-only", "org.tornel.Tornel"}));
    QCOMPARE(error.actions, QStringList({"default", "Open Tornel", "retry", "Retry Sync"}));
    QCOMPARE(error.replacesId, 0u);

    setMessage(QStringLiteral("Server unreachable"));
    QTRY_COMPARE_WITH_TIMEOUT(m_server.shown.size(), 2, waitMs);
    QCOMPARE(m_server.shown[1].replacesId, error.id);
    QCOMPARE(m_server.shown[1].body, QStringLiteral("Server unreachable"));
    QVERIFY(m_server.shown[1].atMs - error.atMs >= 9500);

    emit m_server.ActionInvoked(error.id, QStringLiteral("retry"));
    QTRY_VERIFY_WITH_TIMEOUT(daemon.methods().contains(QStringLiteral("resume")), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.shown.size(), 3, waitMs);
    QCOMPARE(m_server.shown[2].replacesId, error.id);
    QCOMPARE(m_server.shown[2].summary, QStringLiteral("Syncing works again"));
    QVERIFY2(m_companion->endWithSignal(SIGTERM, waitMs), m_companion->standardError().constData());
    QCOMPARE(m_server.shown.size(), 3);
    bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
}

// No daemon anywhere and no tray: the user is told where Tornel looked at
// once, that Tornel runs without an icon 10 s later (the limit), and a second
// start opens the panel as a window that the window manager places.
void DesktopNotificationsTest::missingDaemonAndMissingTrayAreToldAndASecondStartOpensAWindow()
{
    startCompanion();
    QTRY_COMPARE_WITH_TIMEOUT(m_server.shown.size(), 1, waitMs);
    QCOMPARE(m_server.shown[0].summary, QStringLiteral("Tornel cannot find its sync service"));
    QVERIFY2(m_server.shown[0].body.contains(u"in ~/app, /usr/local/bin, ~/.tornel/bin, ~/go/bin or on your PATH. "),
             qPrintable(m_server.shown[0].body));
    QCOMPARE(m_server.shown[0].hints.value("urgency").toInt(), 2);

    QTRY_COMPARE_WITH_TIMEOUT(m_server.shown.size(), 2, waitMs);
    QCOMPARE(m_server.shown[1].summary, QStringLiteral("Tornel is running"));
    QVERIFY(m_server.shown[1].atMs - m_server.shown[0].atMs >= 9500);
    QCOMPARE(m_server.shown[1].actions, QStringList({"default", "Open Tornel"}));

    QCOMPARE(m_companion->runAnother(), 0);
    QProcess search;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&search] {
            search.startCommand(QStringLiteral("xdotool search --onlyvisible --name ^Tornel$"));
            return search.waitForFinished(waitMs) && search.exitCode() == 0;
        }(),
        waitMs);
    QVERIFY(isManagedWindow(search.readAllStandardOutput().trimmed().toUInt()));
    QVERIFY2(m_companion->endWithSignal(SIGTERM, waitMs), m_companion->standardError().constData());
}

QTEST_GUILESS_MAIN(DesktopNotificationsTest)
#include "test_desktop_notifications.moc"
