// A tray that appears after the companion: the companion says it waits, and
// shows its icon once a tray is there. Run on a private session bus
// (dbus-run-session) and a private X server (Xvfb), with the test playing the
// tray: first a StatusNotifierItem watcher with a host, then an X11 tray.
#include "companion_process.h"
#include "scripted_daemon.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>
#include <xcb/xcb.h>

namespace {

constexpr int waitMs = 15000;
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

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

// Enough of an XEmbed system tray: owns the tray selection, announces itself,
// and notices an icon's request to dock.
class FakeXEmbedTray {
public:
    explicit FakeXEmbedTray(const QByteArray &display)
    {
        int screenNumber = 0;
        m_connection = xcb_connect(display.constData(), &screenNumber);
        if (xcb_connection_has_error(m_connection))
            return;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&screens);
        m_root = screens.data->root;
        m_window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screens.data->root_visual, 0, nullptr);
        m_selection = atom("_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber));
        m_opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
        m_manager = atom("MANAGER");
        m_valid = m_selection && m_opcode && m_manager;
    }
    ~FakeXEmbedTray() { xcb_disconnect(m_connection); }

    bool isValid() const { return m_valid; }

    void claim()
    {
        xcb_set_selection_owner(m_connection, m_window, m_selection, XCB_CURRENT_TIME);
        xcb_client_message_event_t announcement {};
        announcement.response_type = XCB_CLIENT_MESSAGE;
        announcement.format = 32;
        announcement.window = m_root;
        announcement.type = m_manager;
        announcement.data.data32[0] = XCB_CURRENT_TIME;
        announcement.data.data32[1] = m_selection;
        announcement.data.data32[2] = m_window;
        xcb_send_event(m_connection, 0, m_root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&announcement));
        xcb_flush(m_connection);
    }

    bool dockRequested()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event);
                constexpr quint32 requestDock = 0;
                if (message->type == m_opcode && message->data.data32[1] == requestDock)
                    m_dockRequested = true;
            }
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

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_window_t m_window = 0;
    xcb_atom_t m_selection = XCB_ATOM_NONE;
    xcb_atom_t m_opcode = XCB_ATOM_NONE;
    xcb_atom_t m_manager = XCB_ATOM_NONE;
    bool m_valid = false;
    bool m_dockRequested = false;
};

class TrayAppearanceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void iconAppearsWhenAStatusNotifierHostArrives();
    void iconAppearsWhenAnX11TrayArrives();

private:
    void startCompanion(CompanionProcess &companion, ScriptedDaemon &daemon);
    QVariant itemProperty(const QString &service, const QString &name);

    QProcess m_xServer;
    QByteArray m_display;
};

void TrayAppearanceTest::initTestCase()
{
    if (QFileInfo::exists(QStringLiteral("/usr/local/bin/tornel-sync")))
        QSKIP("a tornel-sync in /usr/local/bin would be launched instead of the test's daemon");
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "no private session bus");
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        QSKIP("Xvfb is not installed (scripts/install-deps installs it)");
    // -displayfd picks a free display and writes its number once it accepts clients.
    m_xServer.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                           QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                           QStringLiteral("640x480x24")});
    QVERIFY(m_xServer.waitForStarted(waitMs));
    QTRY_VERIFY_WITH_TIMEOUT(m_xServer.canReadLine() || m_xServer.state() != QProcess::Running, waitMs);
    const QByteArray number = m_xServer.readLine().trimmed();
    QVERIFY2(!number.isEmpty(), m_xServer.readAllStandardError().constData());
    m_display = ':' + number;
}

void TrayAppearanceTest::cleanupTestCase()
{
    if (m_xServer.state() != QProcess::NotRunning) {
        m_xServer.terminate();
        m_xServer.waitForFinished(waitMs);
    }
}

void TrayAppearanceTest::startCompanion(CompanionProcess &companion, ScriptedDaemon &daemon)
{
    QVERIFY(companion.isValid());
    QVERIFY(companion.installDaemon("#!/bin/sh\nexec sleep 600\n"));
    QVERIFY(daemon.isListening());
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
    companion.start({}, environment);
    QTRY_VERIFY_WITH_TIMEOUT(companion.standardError().contains("waiting for a system tray"), waitMs);
}

QVariant TrayAppearanceTest::itemProperty(const QString &service, const QString &name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << name;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

namespace {

// The title of a StatusNotifierItem tooltip: (icon name, pixmaps, title, text).
QString toolTipTitle(const QVariant &toolTip)
{
    const QDBusArgument argument = toolTip.value<QDBusArgument>();
    QString iconName;
    QString title;
    argument.beginStructure();
    argument >> iconName;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray data;
        argument.beginStructure();
        argument >> width >> height >> data;
        argument.endStructure();
    }
    argument.endArray();
    QString text;
    argument >> title >> text;
    argument.endStructure();
    return title;
}

// The colours (0xRRGGBB) of the fully opaque pixels of the largest icon
// pixmap (ARGB32 in network byte order).
QSet<quint32> opaqueColours(const QVariant &iconPixmaps)
{
    const QDBusArgument argument = iconPixmaps.value<QDBusArgument>();
    QByteArray largest;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray data;
        argument.beginStructure();
        argument >> width >> height >> data;
        argument.endStructure();
        if (data.size() > largest.size() && data.size() == qsizetype(width) * height * 4)
            largest = data;
    }
    argument.endArray();
    QSet<quint32> colours;
    for (qsizetype i = 0; i + 3 < largest.size(); i += 4) {
        const auto byte = [&](qsizetype k) { return quint32(quint8(largest.at(i + k))); };
        if (byte(0) == 0xff)
            colours.insert(byte(1) << 16 | byte(2) << 8 | byte(3));
    }
    return colours;
}

} // namespace

void TrayAppearanceTest::iconAppearsWhenAStatusNotifierHostArrives()
{
    CompanionProcess companion;
    ScriptedDaemon daemon(companion.socketPath(), [](const QJsonObject &) {
        return ScriptedDaemon::Reply::result(ScriptedDaemon::statusRecord(QStringLiteral("synced")));
    });
    startCompanion(companion, daemon);
    if (QTest::currentTestFailed())
        return;

    // The watcher and its host arrive only now, after the companion.
    FakeStatusNotifierWatcher watcher;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(bus.registerObject(watcherPath, &watcher,
                               QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                                   QDBusConnection::ExportAllSignals));
    QVERIFY(bus.registerService(watcherService));
    const auto unregister = qScopeGuard([&bus] {
        bus.unregisterService(watcherService);
        bus.unregisterObject(watcherPath);
    });

    QTRY_COMPARE_WITH_TIMEOUT(watcher.registeredItems().size(), 1, waitMs);
    const QString item = watcher.registeredItems().constFirst();
    // The icon follows the daemon: once it reports "synced", the item reads
    // "Tornel — Up to date" and is drawn in green.
    QTRY_COMPARE_WITH_TIMEOUT(toolTipTitle(itemProperty(item, QStringLiteral("ToolTip"))),
                              QStringLiteral("Tornel — Up to date"), waitMs);
    QCOMPARE(opaqueColours(itemProperty(item, QStringLiteral("IconPixmap"))), QSet<quint32>{0x34C759});

    QVERIFY2(companion.endWithSignal(SIGTERM, waitMs), companion.standardError().constData());
    QCOMPARE(companion.standardError().count("waiting for a system tray"), 1);
}

void TrayAppearanceTest::iconAppearsWhenAnX11TrayArrives()
{
    CompanionProcess companion;
    ScriptedDaemon daemon(companion.socketPath());
    FakeXEmbedTray tray(m_display);
    QVERIFY(tray.isValid());
    startCompanion(companion, daemon);
    if (QTest::currentTestFailed())
        return;

    tray.claim();
    QTRY_VERIFY_WITH_TIMEOUT(tray.dockRequested(), waitMs);
    QVERIFY2(companion.endWithSignal(SIGTERM, waitMs), companion.standardError().constData());
}

// The watcher this test registers must be the only one, so the test runs on
// a session bus of its own.
int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("TORNEL_TEST_PRIVATE_BUS")) {
        qputenv("TORNEL_TEST_PRIVATE_BUS", "1");
        char self[4096] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
            return 1;
        std::vector<char *> arguments{const_cast<char *>("dbus-run-session"), const_cast<char *>("--"), self};
        arguments.insert(arguments.end(), argv + 1, argv + argc);
        arguments.push_back(nullptr);
        ::execvp(arguments.front(), arguments.data());
        std::perror("dbus-run-session");
        return 1;
    }
    QCoreApplication app(argc, argv);
    TrayAppearanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_tray_appearance.moc"
