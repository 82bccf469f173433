// The compositors asked to put the panel at its icon, played by the test: a
// fake sway socket and, where Tornel speaks D-Bus, a fake KWin on a bus of
// the test's own; both record what Tornel asks.
#include "tray/sway_placement.h"
#if TORNEL_KWIN_PLACEMENT
#include "fake_desktop_services.h"
#include "tray/kwin_placement.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QRegularExpression>
#endif

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 pid = 4242;

QJsonObject jsonRect(QRect r)
{
    return {{u"x"_s, r.x()}, {u"y"_s, r.y()}, {u"width"_s, r.width()}, {u"height"_s, r.height()}};
}

// sway's answers for one output `output` with its free area `free`, and the
// panel's window at `window`, floating beside another program's.
struct SwayAnswers {
    QRect output, free, window;

    QByteArray outputs() const
    {
        const QJsonObject off{{u"name"_s, u"HDMI-A-1"_s}, {u"active"_s, false}, {u"rect"_s, jsonRect(output)}};
        const QJsonObject on{{u"name"_s, u"HEADLESS-1"_s}, {u"active"_s, true}, {u"rect"_s, jsonRect(output)}};
        return QJsonDocument(QJsonArray{off, on}).toJson();
    }
    QByteArray workspaces() const
    {
        const QJsonObject hidden{{u"output"_s, u"HEADLESS-1"_s}, {u"visible"_s, false}, {u"rect"_s, jsonRect({})}};
        const QJsonObject shown{{u"output"_s, u"HEADLESS-1"_s}, {u"visible"_s, true}, {u"rect"_s, jsonRect(free)}};
        return QJsonDocument(QJsonArray{hidden, shown}).toJson();
    }
    QByteArray tree() const
    {
        const QJsonObject other{{u"pid"_s, 7}, {u"rect"_s, jsonRect({0, 0, 10, 10})}};
        const QJsonObject panel{{u"pid"_s, pid}, {u"rect"_s, jsonRect(window)}};
        const QJsonObject workspace{{u"nodes"_s, QJsonArray{other}}, {u"floating_nodes"_s, QJsonArray{panel}}};
        return QJsonDocument(QJsonObject{{u"pid"_s, -1}, {u"nodes"_s, QJsonArray{workspace}}}).toJson();
    }
};

// A sway socket that answers from `answers` and records the commands run;
// `unmapped` commands find no window, as before the panel is mapped.
class FakeSway : public QObject {
public:
    SwayAnswers answers;
    QList<QByteArray> commands;
    int unmapped = 0;

    bool listen(const QString &path)
    {
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            QLocalSocket *client = m_server.nextPendingConnection();
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                m_buffer += client->readAll();
                while (std::optional<SwayMessage::Message> message = SwayMessage::take(m_buffer))
                    client->write(SwayMessage::encode(message->type, answer(*message)));
            });
        });
        return m_server.listen(path);
    }

private:
    QByteArray answer(const SwayMessage::Message &message)
    {
        switch (message.type) {
        case SwayMessage::runCommand:
            commands.append(message.payload);
            return unmapped-- > 0 ? R"([{"success": false, "error": "No matching node."}])" : R"([{"success": true}])";
        case SwayMessage::getOutputs:
            return answers.outputs();
        case SwayMessage::getWorkspaces:
            return answers.workspaces();
        case SwayMessage::getTree:
            return answers.tree();
        }
        return {};
    }

    QLocalServer m_server;
    QByteArray m_buffer;
};

} // namespace

class CompositorPlacementTest : public QObject {
    Q_OBJECT
private slots:
    void swayPosition_data()
    {
        QTest::addColumn<QRect>("output");
        QTest::addColumn<QRect>("free");
        QTest::addColumn<QRect>("window"); // after the move to the pointer, for a click
        QTest::addColumn<bool>("byClick");
        QTest::addColumn<QPoint>("expected");
        // As seen with waybar: the icon at (1259,17), the panel in the middle at (480,217).
        const QRect output(0, 0, 1280, 800), underBar(0, 34, 1280, 766);
        QTest::newRow("click at the icon, kept on the output")
            << output << underBar << QRect(960, 0, 320, 400) << true << QPoint(960, 34);
        QTest::newRow("click at the icon, centred on it")
            << output << underBar << QRect(1099, -183, 320, 400) << true << QPoint(960, 34);
        QTest::newRow("click mid-bar") << output << underBar << QRect(440, 0, 320, 400) << true << QPoint(440, 34);
        QTest::newRow("no click: the bar's far end")
            << output << underBar << QRect(480, 217, 320, 400) << false << QPoint(960, 34);
        QTest::newRow("bottom bar, second output") << QRect(1280, 0, 1920, 1080) << QRect(1280, 0, 1920, 1050)
                                                   << QRect(1980, 680, 320, 400) << true << QPoint(1980, 650);
        QTest::newRow("left bar") << output << QRect(40, 0, 1240, 800) << QRect(0, 100, 320, 400) << true
                                  << QPoint(40, 301);
    }

    void swayPosition()
    {
        QFETCH(QRect, output);
        QFETCH(QRect, free);
        QFETCH(QRect, window);
        QFETCH(bool, byClick);
        QFETCH(QPoint, expected);
        const SwayAnswers answers{output, free, window};
        const std::optional<SwayScene> scene = swayScene(answers.outputs(), answers.workspaces(), answers.tree(), pid);
        QVERIFY(scene && scene->window == window);
        QCOMPARE(swayPanelPosition(*scene, byClick ? std::optional(swayPointer(window)) : std::nullopt), expected);
        QVERIFY(!swayScene(answers.outputs(), answers.workspaces(), answers.tree(), pid + 1));
    }

    // A click's opening finds the window once mapped, moves it to the
    // pointer, then flush with the bar; a later opening with no click puts it
    // under the icon seen then.
    void swayIsAskedOverItsSocket()
    {
        QTemporaryDir runtime;
        FakeSway sway;
        QVERIFY(sway.listen(runtime.filePath(u"sway-ipc.sock"_s)));
        sway.answers = {{0, 0, 1280, 800}, {0, 34, 1280, 766}, {440, 0, 320, 400}};
        sway.unmapped = 2;
        SwayPlacement placement(QFile::encodeName(runtime.filePath(u"sway-ipc.sock"_s)), pid);
        placement.place(true);
        const QByteArray toPointer = "[pid=4242] move position mouse";
        const QByteArray underIcon = "[pid=4242] move absolute position 440 34";
        QTRY_COMPARE(sway.commands, (QList<QByteArray>{toPointer, toPointer, toPointer, underIcon}));
        sway.answers.window = {480, 217, 320, 400};
        placement.place(false);
        QTRY_COMPARE(sway.commands.size(), 5);
        QCOMPARE(sway.commands.last(), underIcon);
    }

#if TORNEL_KWIN_PLACEMENT
    // Each opening hands KWin a script under one name, the old copy (also a
    // crashed Tornel's) unloaded first; the last is unloaded at the end.
    void kwinIsAskedOverTheBus()
    {
        FakeDesktop desktop;
        QVERIFY(desktop.start());
        FakeKWinScripting kwin;
        kwin.loaded.insert(u"tornel-panel-placement"_s);
        QVERIFY(kwin.serve());
        QTemporaryDir runtime;
        auto placement = std::make_unique<KWinPlacement>(QDBusConnection::sessionBus(), runtime.path(), pid);
        placement->place(true);
        QTRY_COMPARE(kwin.calls.size(), 3);
        QVERIFY(kwin.scripts.last().contains("const pid = 4242;") && kwin.scripts.last().contains("atPointer = true;"));
        // As the script does at a click, KWin tells Tornel where the pointer was.
        const QRegularExpressionMatch tornel =
            QRegularExpression(uR"re(const tornel = \["(.+)", "(.+)", "(.+)"\];)re"_s)
                .match(QString::fromUtf8(kwin.scripts.last()));
        QVERIFY(tornel.hasMatch());
        const QDBusPendingCall told =
            QDBusConnection(u"fake-kwin"_s)
                .asyncCall(QDBusMessage::createMethodCall(tornel.captured(1), tornel.captured(2), tornel.captured(3),
                                                          u"iconSeenAt"_s)
                           << u"1203 778"_s);
        QTRY_VERIFY(told.isFinished());
        QVERIFY2(!told.isError(), qPrintable(told.error().message()));
        placement->place(false);
        QTRY_COMPARE(kwin.calls.size(), 6);
        QVERIFY(kwin.scripts.last().contains("atPointer = false;")
                && kwin.scripts.last().contains("seen = {x: 1203, y: 778};"));
        placement.reset(); // blocks on its last call, which the fake answers only after
        const QString script = runtime.filePath(u"tornel-panel-placement.js"_s);
        QTRY_COMPARE(
            kwin.calls,
            (QStringList{u"unload tornel-panel-placement"_s, u"load tornel-panel-placement "_s + script, u"start"_s,
                         u"unload tornel-panel-placement"_s, u"load tornel-panel-placement "_s + script, u"start"_s,
                         u"unload tornel-panel-placement"_s}));
    }
#endif
};

QTEST_GUILESS_MAIN(CompositorPlacementTest)
#include "test_compositor_placement.moc"
