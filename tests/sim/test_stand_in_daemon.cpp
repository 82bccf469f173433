#include "daemon/ipc_client.h"
#include "daemon/status_response.h"

#include "ipc_call.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Every method answers with the status record: its state, or the failure.
QString stateAfter(IPCClient &client, const QString &method, const std::optional<QJsonObject> &params = std::nullopt)
{
    const IPCResult result = awaitCall(startCall(client, method, params), 15000);
    if (const auto *value = std::get_if<QJsonValue>(&result)) {
        const std::optional<StatusResponse> record = StatusResponse::decode(*value);
        return record ? wireName(record->state) : u"undecodable: "_s + describe(result);
    }
    return describe(result);
}

} // namespace

class TestStandInDaemon : public QObject {
    Q_OBJECT

private slots:
    // The built daemon as a child process in a home of its own, driven through IPCClient.
    void walkThroughItsStates()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, home.path());
        QProcess daemon;
        daemon.setProgram(QStringLiteral(TORNEL_SIM_PATH));
        daemon.setProcessChannelMode(QProcess::MergedChannels);

        // The first one dies abruptly and leaves its socket file behind.
        environment.insert(u"TORNEL_SIM_EXIT_AFTER_MS"_s, u"100"_s);
        daemon.setProcessEnvironment(environment);
        daemon.start();
        QVERIFY(daemon.waitForFinished(10000));
        const QString socketPath = home.path() + u"/.tornel/daemon.sock"_s;
        QVERIFY(QFileInfo::exists(socketPath));

        environment.remove(u"TORNEL_SIM_EXIT_AFTER_MS"_s);
        environment.insert(u"TORNEL_SIM_TICK_MS"_s, u"50"_s); // synced a fraction of a second after the login
        daemon.setProcessEnvironment(environment);
        daemon.start();
        QByteArray output;
        const auto said = [&](const QByteArray &text) { return (output += daemon.readAll()).contains(text); };
        QTRY_VERIFY_WITH_TIMEOUT(said("Listening on"), 10000);
        QVERIFY(said("Removed stale socket"));

        IPCClient client(socketPath);
        const auto credentials = [](const QString &password) {
            return QJsonObject{{u"email"_s, u"ann@example.org"_s}, {u"password"_s, password}};
        };
        QCOMPARE(stateAfter(client, u"status"_s), u"logged_out"_s);
        QCOMPARE(stateAfter(client, u"login"_s, credentials(u"s3cret-pass"_s)), u"failure: Invalid email or password"_s);
        QCOMPARE(stateAfter(client, u"login"_s, credentials(u"tornel"_s)), u"syncing"_s);
        QTRY_COMPARE_WITH_TIMEOUT(stateAfter(client, u"status"_s), u"synced"_s, 10000);
        QCOMPARE(stateAfter(client, u"pause"_s), u"paused"_s);
        QCOMPARE(stateAfter(client, u"resume"_s), u"synced"_s);
        QCOMPARE(stateAfter(client, u"logout"_s), u"logged_out"_s);

        daemon.terminate();
        QVERIFY(daemon.waitForFinished(10000));
        QVERIFY(said("Request: login")); // where a password would show
        QVERIFY(!said("s3cret-pass"));
    }
};

QTEST_GUILESS_MAIN(TestStandInDaemon)
#include "test_stand_in_daemon.moc"
