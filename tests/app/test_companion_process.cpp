// The built companion end to end, on the offscreen platform without a tray:
// it launches the daemon from ~/.tornel/bin, polls it every 2 s once it is
// ready, and on SIGTERM, SIGINT or SIGHUP stops polling and then the daemon.
#include "companion_process.h"
#include "scripted_daemon.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <mutex>

#include <unistd.h>

namespace {

constexpr int waitMs = 15000;
const QStringList offscreen = {QStringLiteral("-platform"), QStringLiteral("offscreen")};
const QByteArray waitingForTray = "waiting for a system tray";

QList<QByteArray> lines(const QByteArray &output)
{
    QList<QByteArray> result = output.split('\n');
    result.removeAll(QByteArray());
    return result;
}

bool processIsGone(qint64 pid)
{
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// The status requests a scripted daemon received, with their arrival times.
class StatusLog {
public:
    ScriptedDaemon::Reply record(const QJsonObject &request)
    {
        std::lock_guard lock(m_mutex);
        m_requests.append(request);
        m_arrivalMs.append(m_clock.elapsed());
        return ScriptedDaemon::Reply::result(ScriptedDaemon::statusRecord(QStringLiteral("synced")));
    }
    QList<QJsonObject> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    QList<qint64> arrivalMs() const
    {
        std::lock_guard lock(m_mutex);
        return m_arrivalMs;
    }

private:
    mutable std::mutex m_mutex;
    QElapsedTimer m_clock = [] { QElapsedTimer clock; clock.start(); return clock; }();
    QList<QJsonObject> m_requests;
    QList<qint64> m_arrivalMs;
};

} // namespace

class CompanionProcessTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void pollsAndStopsInOrderOnSignal_data();
    void pollsAndStopsInOrderOnSignal();
    void daemonThatFailsToStartIsNeverPolled();
};

void CompanionProcessTest::initTestCase()
{
    if (QFileInfo::exists(QStringLiteral("/usr/local/bin/tornel-sync")))
        QSKIP("a tornel-sync in /usr/local/bin would be launched instead of the test's daemon");
}

void CompanionProcessTest::pollsAndStopsInOrderOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("requestsBeforeSignal");
    QTest::newRow("SIGTERM") << SIGTERM << 3;
    QTest::newRow("SIGINT") << SIGINT << 1;
    QTest::newRow("SIGHUP") << SIGHUP << 1;
}

void CompanionProcessTest::pollsAndStopsInOrderOnSignal()
{
    QFETCH(int, signal);
    QFETCH(int, requestsBeforeSignal);

    CompanionProcess companion;
    QVERIFY(companion.isValid());
    QVERIFY(companion.installDaemon("#!/bin/sh\nexec sleep 600\n"));
    StatusLog log;
    ScriptedDaemon daemon(companion.socketPath(), [&log](const QJsonObject &request) { return log.record(request); });
    QVERIFY(daemon.isListening());

    companion.start(offscreen);
    QTRY_VERIFY_WITH_TIMEOUT(log.requests().size() >= requestsBeforeSignal, waitMs);

    const QList<QJsonObject> requests = log.requests();
    for (int i = 0; i < requestsBeforeSignal; ++i) {
        QCOMPARE(requests.at(i).value(QStringLiteral("method")).toString(), QStringLiteral("status"));
        QCOMPARE(requests.at(i).value(QStringLiteral("id")).toInteger(), i + 1);
    }
    const QList<qint64> arrivals = log.arrivalMs();
    for (int i = 1; i < requestsBeforeSignal; ++i) {
        const qint64 gap = arrivals.at(i) - arrivals.at(i - 1);
        QVERIFY2(gap > 1500 && gap < 3500, qPrintable(QStringLiteral("%1 ms between polls").arg(gap)));
    }

    QVERIFY2(companion.endWithSignal(signal, waitMs), companion.standardError().constData());
    const QList<QByteArray> output = lines(companion.standardOutput());
    QVERIFY(!output.isEmpty());
    const QRegularExpressionMatch started =
        QRegularExpression(QStringLiteral("^\\[daemon\\] Started \\(PID: (\\d+)\\)$")).match(QString::fromUtf8(output.first()));
    QVERIFY2(started.hasMatch(), output.first().constData());
    QCOMPARE(output.last(), QByteArray("[daemon] Stopped"));
    const qint64 daemonPid = started.captured(1).toLongLong();
    QTRY_VERIFY_WITH_TIMEOUT(processIsGone(daemonPid), 5000);

    // No tray offscreen: said once, and the daemon was supervised all the same.
    QCOMPARE(companion.standardError().count(waitingForTray), 1);
}

void CompanionProcessTest::daemonThatFailsToStartIsNeverPolled()
{
    CompanionProcess companion;
    QVERIFY(companion.isValid());
    QVERIFY(companion.installDaemon("#!/bin/sh\nexec sleep 600\n", /*executable=*/false));
    ScriptedDaemon daemon(companion.socketPath());
    QVERIFY(daemon.isListening());

    companion.start(offscreen);
    QTRY_VERIFY_WITH_TIMEOUT(companion.standardOutput().contains("[daemon] Failed to start: "), waitMs);
    // Waiting for something not to happen: past the ready delay and a poll interval.
    QTest::qWait(3500);
    QCOMPARE(daemon.requestCount(), 0);

    QVERIFY2(companion.endWithSignal(SIGTERM, waitMs), companion.standardError().constData());
    const QList<QByteArray> output = lines(companion.standardOutput());
    QCOMPARE(output.size(), 1);
    QVERIFY(output.first().startsWith("[daemon] Failed to start: "));
}

QTEST_GUILESS_MAIN(CompanionProcessTest)
#include "test_companion_process.moc"
