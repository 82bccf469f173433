// The built companion on an X server and a session bus of the test's own, the
// test playing the desktop: a tray that appears only after the companion, a
// user who starts Tornel again and logs in with the keyboard (xdotool), and a
// notification server.
#include "companion_process.h"
#include "fake_desktop_services.h"
#include "scripted_daemon.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdlib>
#include <atomic>
#include <memory>

#include <xcb/xcb.h>

namespace {

constexpr int waitMs = 15000;
const QString findPanel = QStringLiteral("xdotool search --onlyvisible --name ^Tornel$");

// What a tool (xdotool, dbus-send) prints, run on the test's display and bus.
QByteArray run(const QString &command)
{
    QProcess tool;
    tool.startCommand(command);
    return tool.waitForFinished(waitMs) ? tool.readAllStandardOutput().simplified() : QByteArray("(did not end)");
}

// Plays an XEmbed tray that arrives now on screen 0 of `display`: takes the
// tray selection and waits for an icon's request to dock.
bool x11TrayGetsDockRequest(const QByteArray &display)
{
    xcb_connection_t *connection = xcb_connect(display.constData(), nullptr);
    const auto atom = [connection](const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, quint16(qstrlen(name)), name), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return result;
    };
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t tray = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, tray, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_set_selection_owner(connection, tray, atom("_NET_SYSTEM_TRAY_S0"), XCB_CURRENT_TIME);
    xcb_flush(connection);

    const xcb_atom_t opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
    bool requested = false;
    for (const QDeadlineTimer deadline(waitMs); !requested && !deadline.hasExpired(); QThread::msleep(20)) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event);
            requested |= (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == opcode &&
                         message->data.data32[1] == 0; // SYSTEM_TRAY_REQUEST_DOCK
            std::free(event);
        }
    }
    xcb_disconnect(connection);
    return requested;
}

// Whether X window `id` is placed by the window manager, not by itself as a popup is.
bool isManagedWindow(quint32 id)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    auto *attributes = xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, id), nullptr);
    const bool managed = attributes && !attributes->override_redirect;
    std::free(attributes);
    xcb_disconnect(connection);
    return managed;
}

} // namespace

class TrayAppearanceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void iconAppearsWhenAnX11TrayArrives();
    void iconAppearsWhenAStatusNotifierHostArrives();
    void secondStartOpensThePanelWhereTheUserLogsIn();
    void notificationsTellOfTheMissingTrayAndOfAnErrorInPlace();

private:
    // On the test's display and bus; it says it waits for a tray.
    void startCompanion();

    FakeDesktop m_desktop;
    FakeNotificationServer &m_notifications = m_desktop.notifications;
    std::unique_ptr<CompanionProcess> m_companion;
};

void TrayAppearanceTest::initTestCase()
{
    // The watcher registered by a test must be the only one: the bus is the test's own.
    QVERIFY2(m_desktop.start(), "no X server or bus (scripts/install-deps installs Xvfb, D-Bus and xdotool)");
}

void TrayAppearanceTest::init()
{
    m_companion = std::make_unique<CompanionProcess>();
    QVERIFY(m_companion->isValid() && m_companion->installDaemon("#!/bin/sh\nexec sleep 600\n"));
}

void TrayAppearanceTest::startCompanion()
{
    m_companion->start({}, m_desktop.companionEnvironment());
    QTRY_VERIFY_WITH_TIMEOUT(m_companion->standardError().contains("waiting for a system tray"), waitMs);
}

void TrayAppearanceTest::iconAppearsWhenAnX11TrayArrives()
{
    startCompanion();
    QVERIFY(x11TrayGetsDockRequest(qgetenv("DISPLAY")));
    QVERIFY2(m_companion->endWithSignal(SIGTERM, waitMs), m_companion->standardError().constData());
}

void TrayAppearanceTest::iconAppearsWhenAStatusNotifierHostArrives()
{
    ScriptedDaemon daemon(m_companion->socketPath(), [](const QJsonObject &) {
        return ScriptedDaemon::Reply::result(ScriptedDaemon::statusRecord(QStringLiteral("synced")));
    });
    QVERIFY(daemon.isListening());
    startCompanion();

    // The watcher and its host arrive only now, after the companion.
    FakeStatusNotifierWatcher watcher;
    QVERIFY(watcher.serve());
    QDBusConnection bus = QDBusConnection::sessionBus();
    QTRY_COMPARE_WITH_TIMEOUT(watcher.items.size(), 1, waitMs);

    // The icon follows the daemon: "synced" reads "Tornel — Up to date" and is drawn in green (opaque 0x30D158),
    // rimmed in near black (0x1C1C1E) until the desktop's settings portal says it prefers dark.
    const auto property = [&watcher](const char *name) {
        return run(QStringLiteral("dbus-send --session --print-reply --dest=%1 /StatusNotifierItem "
                                  "org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierItem string:%2")
                       .arg(watcher.items.constFirst(), QLatin1StringView(name)));
    };
    QTRY_VERIFY_WITH_TIMEOUT(property("ToolTip").contains("string \"Tornel — Up to date\""), waitMs);
    QVERIFY(property("IconPixmap").contains("ff 30 d1 58") && property("IconPixmap").contains("ff 1c 1c 1e"));
    bus.send(QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"))
             << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme") << QVariant::fromValue(QDBusVariant(1u)));
    QTRY_VERIFY_WITH_TIMEOUT(!property("IconPixmap").contains("ff 1c 1c 1e"), waitMs);
    QVERIFY2(m_companion->endWithSignal(SIGTERM, waitMs), m_companion->standardError().constData());
    QCOMPARE(m_companion->standardError().count("waiting for a system tray"), 1);
    watcher.stopServing();
}

// A second start opens the running companion's panel and ends; there the
// user reaches the login form with the keyboard and first mistypes the
// password. What was typed as a password is never written out.
void TrayAppearanceTest::secondStartOpensThePanelWhereTheUserLogsIn()
{
    const QByteArray wrongPassword = "Zq7-secret-Wx";
    QVERIFY(m_companion->installStandInDaemon());
    startCompanion();
    QCOMPARE(run(findPanel), QByteArray());

    QByteArray secondStart;
    QCOMPARE(m_companion->runAnother(&secondStart), 0);
    QVERIFY2(!secondStart.contains("[daemon]"), secondStart.constData());
    QTRY_VERIFY_WITH_TIMEOUT(!run(findPanel).isEmpty(), waitMs);

    // The panel opens on its first command, "Log In to Tornel"; the form opens on the e-mail field.
    run(QStringLiteral("xdotool key Return type user@example.com"));
    run(QStringLiteral("xdotool key Tab type ") + QLatin1StringView(wrongPassword));
    run(QStringLiteral("xdotool key Return"));
    QTRY_VERIFY_WITH_TIMEOUT(m_companion->standardOutput().contains("[daemon] Answered error: Invalid email or password"), waitMs);
    // The password field has focus again.
    run(QStringLiteral("xdotool key ctrl+a type tornel"));
    run(QStringLiteral("xdotool key Return"));
    QTRY_VERIFY_WITH_TIMEOUT(m_companion->standardOutput().contains("[daemon] Logged in as user@example.com on "), waitMs);

    QVERIFY2(m_companion->endWithSignal(SIGTERM, waitMs), m_companion->standardError().constData());
    QCOMPARE(m_companion->daemonPids().size(), 1);
    QVERIFY(!m_companion->standardOutput().contains(wrongPassword) && !m_companion->standardError().contains(wrongPassword));
}

// No tray: told at 5 s, and a click on that notification opens the panel as a window. Then an error, no sooner
// than 10 s later, kept on screen; it expires, and its next message comes as a new one; the user closes that one,
// and it stays closed; its "Retry Sync" resumes the daemon, and the recovery is told anew.
void TrayAppearanceTest::notificationsTellOfTheMissingTrayAndOfAnErrorInPlace()
{
    const QString messages[] = {QString(), QStringLiteral("Disk <full> & read-only"), QStringLiteral("Server unreachable")};
    std::atomic<int> error = 0; // into `messages`; none while synced
    ScriptedDaemon daemon(m_companion->socketPath(), [&](const QJsonObject &request) {
        const int now = request.value(QStringLiteral("method")).toString() == u"resume" ? error = 0 : error.load();
        QJsonObject record = ScriptedDaemon::statusRecord(now ? QStringLiteral("error") : QStringLiteral("synced"));
        record.insert(QStringLiteral("errorMessage"), now ? QJsonValue(messages[now]) : QJsonValue());
        return ScriptedDaemon::Reply::result(record);
    });
    QList<FakeNotificationServer::Notification> &shown = m_notifications.shown;
    shown.clear();
    startCompanion();
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, waitMs);
    QCOMPARE(shown[0].actions + QStringList(shown[0].summary), QStringList({"default", "Open Tornel", "Tornel is running"}));
    QVERIFY(shown[0].urgency == 1 && shown[0].expireTimeout == -1);
    emit m_notifications.ActionInvoked(uint(shown[0].id), QStringLiteral("default"));
    QTRY_VERIFY_WITH_TIMEOUT(!run(findPanel).isEmpty(), waitMs);
    QVERIFY(isManagedWindow(run(findPanel).toUInt()));

    error = 1;
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, waitMs);
    const FakeNotificationServer::Notification first = shown[1];
    QCOMPARE(first.sender, QStringList({"Tornel", "org.tornel.Tornel", "org.tornel.Tornel"}));
    QCOMPARE(QStringList({first.summary, first.body}), QStringList({"Sync error", "Disk &lt;full&gt; &amp; read-only"}));
    QCOMPARE(first.actions, QStringList({"default", "Open Tornel", "retry", "Retry Sync"}));
    QVERIFY(first.replacesId == 0 && first.atMs - shown[0].atMs >= 9500);
    QVERIFY(first.urgency == 1 && first.expireTimeout == 0);

    emit m_notifications.NotificationClosed(uint(first.id), 1);
    error = 2;
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 3, waitMs);
    QVERIFY(shown[2].body == messages[2] && shown[2].replacesId == 0 && shown[2].atMs - first.atMs >= 9500);

    const FakeNotificationServer::Notification second = shown[2];
    emit m_notifications.NotificationClosed(uint(second.id), 2);
    error = 1;
    QTRY_VERIFY_WITH_TIMEOUT(m_notifications.clock.elapsed() > second.atMs + 11000, waitMs);
    QCOMPARE(shown.size(), 3);
    emit m_notifications.ActionInvoked(uint(second.id), QStringLiteral("retry"));
    QTRY_VERIFY_WITH_TIMEOUT(daemon.methods().contains(QStringLiteral("resume")), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 4, waitMs);
    QVERIFY(shown[3].summary == u"Syncing works again" && shown[3].replacesId == 0 && shown[3].expireTimeout == -1);
    QVERIFY2(m_companion->endWithSignal(SIGTERM, waitMs), m_companion->standardError().constData());
    QCOMPARE(shown.size(), 4);
}

QTEST_GUILESS_MAIN(TrayAppearanceTest)
#include "test_tray_appearance.moc"
