// The commands of the built program (--status, --pause, --resume, --quit):
// against the daemon's socket alone, through a running companion, and the
// command lines refused; none of them may start a companion or a daemon.
#include "companion_process.h"
#include "scripted_daemon.h"

#include <QDir>
#include <QJsonDocument>
#include <QTest>

#include <memory>

namespace {

using namespace Qt::StringLiterals;

constexpr int waitMs = 15000;
const QString daemonStarted = u"daemon-started"_s;

ScriptedDaemon::Responder answering(const QJsonObject &status, const ScriptedDaemon::Reply &command)
{
    return [status, command](const QJsonObject &request) {
        return request.value("method"_L1) == "status"_L1 ? ScriptedDaemon::Reply::result(status) : command;
    };
}

QJsonObject failing(const QString &message)
{
    QJsonObject record = ScriptedDaemon::statusRecord(u"error"_s);
    record.insert("errorMessage"_L1, message);
    return record;
}

qsizetype requestsNumbered(const ScriptedDaemon &daemon, int id)
{
    const QList<QJsonObject> requests = daemon.requests();
    return std::count_if(requests.begin(), requests.end(),
                         [id](const QJsonObject &request) { return request.value("id"_L1).toInt() == id; });
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void againstTheDaemonAlone_data();
    void againstTheDaemonAlone();
    void throughTheRunningCompanion();
    void refusedLines_data();
    void refusedLines();

private:
    // Neither a daemon was launched nor a companion claimed the session.
    void verifyNothingStarted();

    std::unique_ptr<CompanionProcess> m_companion;
};

void CommandLineTest::init()
{
    m_companion = std::make_unique<CompanionProcess>();
    QVERIFY(m_companion->isValid());
    QVERIFY(m_companion->installDaemon("#!/bin/sh\ntouch \"$HOME/" + daemonStarted.toUtf8() + "\"\nexec sleep 600\n"));
}

void CommandLineTest::verifyNothingStarted()
{
    QVERIFY(!QFile::exists(m_companion->homePath(daemonStarted)));
    QCOMPARE(
        QDir(m_companion->homePath(u"runtime"_s)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
        QStringList());
}

void CommandLineTest::againstTheDaemonAlone_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QJsonObject>("status");
    QTest::addColumn<QByteArray>("commandAnswer");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("errors");
    QTest::addColumn<QStringList>("methods");

    const QJsonObject synced = ScriptedDaemon::statusRecord(u"synced"_s);
    const QByteArray done = ScriptedDaemon::Reply::result(synced).bytes;
    const QByteArray refused = ScriptedDaemon::Reply::error(u"Not logged in"_s).bytes;
    const QStringList status{u"--status"_s};
    QTest::newRow("synced") << status << true << synced << done << 0 << "All files up to date\n"_ba
                            << ""_ba << QStringList{u"status"_s};
    QTest::newRow("syncing") << status << true << ScriptedDaemon::statusRecord(u"syncing"_s, 2, 1) << done << 0
                             << "Syncing 3 files...\n"_ba
                             << ""_ba << QStringList{u"status"_s};
    QTest::newRow("paused") << status << true << ScriptedDaemon::statusRecord(u"paused"_s) << done << 1
                            << "Sync paused\n"_ba
                            << ""_ba << QStringList{u"status"_s};
    QTest::newRow("error, control characters shown as spaces")
        << status << true << failing(u"Disk\nfull\x1b[2J"_s) << done << 1 << "Disk full [2J\n"_ba
        << ""_ba << QStringList{u"status"_s};
    QTest::newRow("logged out") << status << true << ScriptedDaemon::statusRecord(u"logged_out"_s) << done << 1
                                << "Not logged in\n"_ba
                                << ""_ba << QStringList{u"status"_s};
    QTest::newRow("json") << QStringList{u"--status"_s, u"--json"_s} << true
                          << ScriptedDaemon::statusRecord(u"paused"_s) << done << 1
                          << QJsonDocument(ScriptedDaemon::statusRecord(u"paused"_s)).toJson(QJsonDocument::Compact)
            + '\n' << ""_ba
                          << QStringList{u"status"_s};
    QTest::newRow("no answer") << status << false << synced << done << 2 << ""_ba
                               << "Neither Tornel nor its sync service answers: Failed to connect to daemon at "_ba
                               << QStringList();
    QTest::newRow("pause") << QStringList{u"--pause"_s} << true << synced << done << 0 << ""_ba
                           << ""_ba << QStringList{u"pause"_s};
    QTest::newRow("pause refused") << QStringList{u"--pause"_s} << true << synced << refused << 1 << ""_ba
                                   << "Not logged in\n"_ba << QStringList{u"pause"_s};
    QTest::newRow("pause, no answer") << QStringList{u"--pause"_s} << false << synced << done << 1 << ""_ba
                                      << "Failed to connect to daemon at "_ba << QStringList();
    QTest::newRow("pause for a while, no Tornel to end it")
        << QStringList{u"--pause"_s, u"1h"_s} << true << synced << done << 1 << ""_ba
        << "Tornel is not running, and only it can end a pause"_ba << QStringList();
    QTest::newRow("resume") << QStringList{u"--resume"_s} << true << synced << done << 0 << ""_ba
                            << ""_ba << QStringList{u"resume"_s};
    QTest::newRow("quit") << QStringList{u"--quit"_s} << true << synced << done << 1 << ""_ba
                          << "Tornel is not running.\n"_ba << QStringList();
}

void CommandLineTest::againstTheDaemonAlone()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, listening);
    QFETCH(QJsonObject, status);
    QFETCH(QByteArray, commandAnswer);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, errors);
    QFETCH(QStringList, methods);

    std::unique_ptr<ScriptedDaemon> daemon;
    if (listening) {
        daemon = std::make_unique<ScriptedDaemon>(m_companion->socketPath(),
                                                  answering(status, ScriptedDaemon::Reply::answer(commandAnswer)));
        QVERIFY(daemon->isListening());
    }
    const CompanionProcess::Ended ended = m_companion->runCommand(arguments);
    QCOMPARE(ended.exitCode, exitCode);
    QCOMPARE(ended.output, output);
    QVERIFY2(errors.isEmpty() ? ended.errors.isEmpty() : ended.errors.startsWith(errors), ended.errors.constData());
    if (daemon)
        QCOMPARE(daemon->methods(), methods);
    verifyNothingStarted();
}

// The companion carries the commands, so its icon and panel follow at once;
// its client numbers requests from its first poll on, so a command's own
// client would show as a second request numbered 1.
void CommandLineTest::throughTheRunningCompanion()
{
    ScriptedDaemon daemon(
        m_companion->socketPath(),
        answering(ScriptedDaemon::statusRecord(u"syncing"_s, 2, 1), ScriptedDaemon::Reply::error(u"Not logged in"_s)));
    QVERIFY(daemon.isListening());
    m_companion->start();
    QTRY_VERIFY_WITH_TIMEOUT(daemon.requestCount() >= 2, waitMs); // the first answer is applied

    CompanionProcess::Ended ended = m_companion->runCommand({u"--status"_s});
    QCOMPARE(ended.exitCode, 0);
    QCOMPARE(ended.output, "Syncing 3 files...\n"_ba);
    ended = m_companion->runCommand({u"--pause"_s});
    QCOMPARE(ended.exitCode, 1);
    QCOMPARE(ended.errors, "Not logged in\n"_ba);
    QVERIFY(daemon.methods().contains(u"pause"_s));
    daemon.setResponder(
        answering(ScriptedDaemon::statusRecord(u"paused"_s), ScriptedDaemon::Reply::result(QJsonObject())));
    ended = m_companion->runCommand({u"--resume"_s});
    QCOMPARE(ended.exitCode, 0);
    QVERIFY(daemon.methods().contains(u"resume"_s));
    ended = m_companion->runCommand({u"--pause"_s, u"2h30m"_s});
    QCOMPARE(ended.exitCode, 0);
    QVERIFY(QFile::exists(m_companion->homePath(u".local/state/tornel/pause-deadline"_s)));
    QCOMPARE(requestsNumbered(daemon, 1), 1);

    // --quit returns once the companion is gone, its daemon stopped.
    ended = m_companion->runCommand({u"--quit"_s});
    QCOMPARE(ended.exitCode, 0);
    QVERIFY(!QFile::exists(m_companion->homePath(u"runtime/tornel.sock"_s)));
    QVERIFY(m_companion->process().waitForFinished(waitMs));
    QCOMPARE(m_companion->process().exitCode(), 0);
    QVERIFY(m_companion->standardOutput().endsWith("[daemon] Stopped\n"));
    QCOMPARE(m_companion->daemonPids().size(), 1);
}

void CommandLineTest::refusedLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("problem");
    QTest::newRow("two commands") << QStringList{u"--pause"_s, u"--resume"_s}
                                  << "Give one command at a time, not --pause, --resume."_ba;
    QTest::newRow("open with a command") << QStringList{u"--open"_s, u"--status"_s} << "Give one command at a time"_ba;
    QTest::newRow("json alone") << QStringList{u"--json"_s} << "--json goes with --status only."_ba;
    QTest::newRow("an argument") << QStringList{u"--status"_s, u"now"_s} << "Unexpected argument 'now'."_ba;
    QTest::newRow("a malformed duration") << QStringList{u"--pause"_s, u"1x"_s} << "'1x' is no duration"_ba;
    QTest::newRow("a duration to resume") << QStringList{u"--resume"_s, u"1h"_s} << "Unexpected argument '1h'."_ba;
    QTest::newRow("an unknown option") << QStringList{u"--resume"_s, u"--soon"_s} << "Unknown option 'soon'."_ba;
}

void CommandLineTest::refusedLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, problem);
    ScriptedDaemon daemon(m_companion->socketPath(), answering(ScriptedDaemon::statusRecord(u"synced"_s), {}));
    const CompanionProcess::Ended ended = m_companion->runCommand(arguments);
    QCOMPARE(ended.exitCode, 1);
    QVERIFY2(ended.errors.startsWith(problem) && ended.errors.contains("Usage: "), ended.errors.constData());
    QCOMPARE(daemon.requestCount(), 0);
    verifyNothingStarted();
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
