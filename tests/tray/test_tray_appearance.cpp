// The built companion on an X server (Xvfb) and a session bus of the test's
// own, with the test playing the desktop: a tray that appears only after the
// companion (a StatusNotifierItem watcher with a host, or an X11 tray), and a
// user who starts Tornel again and logs in with the keyboard (xdotool).
#include "companion_process.h"
#include "scripted_daemon.h"

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <cstdlib>

#include <xcb/xcb.h>

namespace {

constexpr int waitMs = 15000;

// Starts a server that prints one line once it serves (Xvfb its display
// number, dbus-daemon its address) and returns that line.
QByteArray startServer(QProcess &server, const QString &program, const QStringList &arguments)
{
    server.start(program, arguments);
    const QDeadlineTimer deadline(waitMs);
    while (!server.canReadLine() && server.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return server.readLine().trimmed();
}

// What a tool (xdotool, dbus-send) prints, run on the test's display and bus.
QByteArray outputOf(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    return tool.waitForFinished(waitMs) ? tool.readAllStandardOutput().simplified() : QByteArray("(did not end)");
}

} // namespace

// Enough of a StatusNotifierItem watcher for Qt: a host is registered, and
// items register themselves with their bus name.
class FakeStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
public:
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList registeredItems() const { return m_items; }

public slots:
    void RegisterStatusNotifierItem(const QString &service)
    {
        m_items.append(service);
        emit StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString &) {}

signals:
    void StatusNotifierItemRegistered(const QString &service);
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};

// Enough of an XEmbed tray on screen 0: owns the tray selection, announces
// itself, and notices an icon's request to dock.
class FakeXEmbedTray {
public:
    explicit FakeXEmbedTray(const QByteArray &display) : m_connection(xcb_connect(display.constData(), nullptr))
    {
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
        xcb_set_selection_owner(m_connection, window, selection, XCB_CURRENT_TIME);
        xcb_client_message_event_t announcement {};
        announcement.response_type = XCB_CLIENT_MESSAGE;
        announcement.format = 32;
        announcement.window = screen->root;
        announcement.type = atom("MANAGER");
        announcement.data.data32[1] = selection;
        announcement.data.data32[2] = window;
        xcb_send_event(m_connection, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&announcement));
        xcb_flush(m_connection);
    }
    ~FakeXEmbedTray() { xcb_disconnect(m_connection); }

    bool dockRequested()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event);
            constexpr quint32 requestDock = 0;
            m_dockRequested |= (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == m_opcode &&
                               message->data.data32[1] == requestDock;
            std::free(event);
        }
        return m_dockRequested;
    }

private:
    xcb_atom_t atom(const QByteArray &name)
    {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, quint16(name.size()), name.constData()), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return result;
    }

    xcb_connection_t *m_connection;
    const xcb_atom_t m_opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
    bool m_dockRequested = false;
};

class TrayAppearanceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void iconAppearsWhenAnX11TrayArrives();
    void iconAppearsWhenAStatusNotifierHostArrives();
    void secondStartOpensThePanelWhereTheUserLogsIn();

private:
    void startCompanion(CompanionProcess &companion);

    QProcess m_xServer;
    QProcess m_bus;
    QByteArray m_display;
};

void TrayAppearanceTest::initTestCase()
{
    if (QFile::exists(QStringLiteral("/usr/local/bin/tornel-sync")))
        QSKIP("a tornel-sync in /usr/local/bin would be launched instead of the test's daemon");
    for (const char *tool : {"Xvfb", "dbus-daemon", "dbus-send", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP("Xvfb, D-Bus or xdotool is not installed (scripts/install-deps installs them)");
    }
    // -displayfd picks a free display; the watcher registered below must be the only one.
    m_display = ':' + startServer(m_xServer, QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                  QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                                  QStringLiteral("0"), QStringLiteral("640x480x24")});
    const QByteArray bus = startServer(m_bus, QStringLiteral("dbus-daemon"), {QStringLiteral("--session"),
                                       QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    QVERIFY2(m_display.size() > 1 && !bus.isEmpty(), "no X server or bus");
    qputenv("DISPLAY", m_display);
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    QVERIFY(QDBusConnection::sessionBus().isConnected());
}

void TrayAppearanceTest::startCompanion(CompanionProcess &companion)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), qEnvironmentVariable("DISPLAY"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
    companion.start({}, environment);
}

void TrayAppearanceTest::iconAppearsWhenAStatusNotifierHostArrives()
{
    CompanionProcess companion;
    QVERIFY(companion.isValid() && companion.installDaemon("#!/bin/sh\nexec sleep 600\n"));
    ScriptedDaemon daemon(companion.socketPath(), [](const QJsonObject &) {
        return ScriptedDaemon::Reply::result(ScriptedDaemon::statusRecord(QStringLiteral("synced")));
    });
    QVERIFY(daemon.isListening());
    startCompanion(companion);
    QTRY_VERIFY_WITH_TIMEOUT(companion.standardError().contains("waiting for a system tray"), waitMs);

    // The watcher and its host arrive only now, after the companion.
    FakeStatusNotifierWatcher watcher;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, QDBusConnection::ExportAllContents));
    QVERIFY(bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.registeredItems().size(), 1, waitMs);

    // The icon follows the daemon: "synced" reads "Tornel — Up to date" and is drawn in green (opaque 0x34C759).
    const auto property = [&watcher](const char *name) {
        return outputOf(QStringLiteral("dbus-send"), {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                        QStringLiteral("--dest=") + watcher.registeredItems().constFirst(), QStringLiteral("/StatusNotifierItem"),
                        QStringLiteral("org.freedesktop.DBus.Properties.Get"), QStringLiteral("string:org.kde.StatusNotifierItem"),
                        QStringLiteral("string:") + QLatin1StringView(name)});
    };
    QTRY_VERIFY_WITH_TIMEOUT(property("ToolTip").contains("string \"Tornel — Up to date\""), waitMs);
    QVERIFY(property("IconPixmap").contains("ff 34 c7 59"));
    QVERIFY2(companion.endWithSignal(SIGTERM, waitMs), companion.standardError().constData());
    QCOMPARE(companion.standardError().count("waiting for a system tray"), 1);
    bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
}

void TrayAppearanceTest::iconAppearsWhenAnX11TrayArrives()
{
    CompanionProcess companion;
    QVERIFY(companion.isValid() && companion.installDaemon("#!/bin/sh\nexec sleep 600\n"));
    startCompanion(companion);
    QTRY_VERIFY_WITH_TIMEOUT(companion.standardError().contains("waiting for a system tray"), waitMs);
    FakeXEmbedTray tray(m_display);
    QTRY_VERIFY_WITH_TIMEOUT(tray.dockRequested(), waitMs);
    QVERIFY2(companion.endWithSignal(SIGTERM, waitMs), companion.standardError().constData());
}

// A second start opens the running companion's panel and ends; there the
// user reaches the login form with the keyboard and first mistypes the
// password. What was typed as a password is never written out.
void TrayAppearanceTest::secondStartOpensThePanelWhereTheUserLogsIn()
{
    const QString wrongPassword = QStringLiteral("Zq7-secret-Wx");
    const auto xdotool = [](const QStringList &arguments) { return outputOf(QStringLiteral("xdotool"), arguments); };
    const QStringList findPanel = {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QStringLiteral("^Tornel$")};
    CompanionProcess companion;
    QVERIFY(companion.isValid() && companion.installStandInDaemon());
    startCompanion(companion);
    QTRY_VERIFY_WITH_TIMEOUT(companion.standardOutput().contains("[daemon] Request: status (id 1)"), waitMs);
    QCOMPARE(xdotool(findPanel), QByteArray());

    QByteArray secondStart;
    QCOMPARE(companion.runAnother(&secondStart), 0);
    QVERIFY2(!secondStart.contains("[daemon]"), secondStart.constData());
    QTRY_VERIFY_WITH_TIMEOUT(!xdotool(findPanel).isEmpty(), waitMs);

    // Tab to the first command, "Log In to Tornel"; the form opens with the e-mail field focused.
    xdotool({QStringLiteral("key"), QStringLiteral("Tab"), QStringLiteral("Return"), QStringLiteral("type"), QStringLiteral("user@example.com")});
    xdotool({QStringLiteral("key"), QStringLiteral("Tab"), QStringLiteral("type"), wrongPassword});
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    QTRY_VERIFY_WITH_TIMEOUT(companion.standardOutput().contains("[daemon] Answered error: Invalid email or password"), waitMs);
    // The password field has focus again.
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("type"), QStringLiteral("tornel")});
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    QTRY_VERIFY_WITH_TIMEOUT(companion.standardOutput().contains("[daemon] Logged in as user@example.com on "), waitMs);

    QVERIFY2(companion.endWithSignal(SIGTERM, waitMs), companion.standardError().constData());
    QCOMPARE(companion.daemonPids().size(), 1);
    QVERIFY(!companion.standardOutput().contains(wrongPassword.toUtf8()));
    QVERIFY(!companion.standardError().contains(wrongPassword.toUtf8()));
}

QTEST_GUILESS_MAIN(TrayAppearanceTest)
#include "test_tray_appearance.moc"
