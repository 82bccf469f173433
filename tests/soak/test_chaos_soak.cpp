// Half a minute of the built companion against the stand-in daemon in chaos
// mode (hung, closed, garbled, split and oversized answers; a daemon that
// exits or is killed). Afterwards the companion still polls, holds about the
// threads, descriptors and memory it held at the start, has written only
// well-formed lines, and leaves nothing running after SIGTERM.
#include "companion_process.h"
#include "scripted_daemon.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

namespace {

constexpr int stormMs = 30'000;
constexpr int waitMs = 15'000;

// Threads, descriptors and resident kB. Workers that waited on hung answers
// may linger until the pool retires them; sockets must all be closed.
struct Usage {
    qint64 threads, fds, rssKb;
    bool within(const Usage &start) const
    {
        return threads <= start.threads + 2 && fds <= start.fds + 2 && rssKb <= start.rssKb + 8 * 1024;
    }
};

Usage usageOf(qint64 pid)
{
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    QFile status(base + QStringLiteral("status"));
    static const QRegularExpression rss(QStringLiteral("VmRSS:\\s+(\\d+)"));
    return {QDir(base + QStringLiteral("task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(),
            QDir(base + QStringLiteral("fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(),
            status.open(QIODevice::ReadOnly) ? rss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong() : 0};
}

// Processes whose environment names this run's HOME: the companion, its
// daemons and anything they started.
QList<qint64> processesOfRun(const QString &home)
{
    QList<qint64> pids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
        if (entry.toLongLong() > 0 && environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains("HOME=" + home.toUtf8()))
            pids.append(entry.toLongLong());
    }
    return pids;
}

// A line of the supervisor's, or one whole line of the stand-in daemon's.
const QRegularExpression wellFormed(QRegularExpression::anchoredPattern(QStringLiteral(
    R"(\[daemon\] (Started \(PID: \d+\)|Process exited with status \d+|Stopped)"
    R"(|Restarting in \d+\.\d+s \(attempt [1-3]/3\)|Too many restarts, giving up)"
    R"(|Listening on \S+ \(logged out\)|Removed stale socket \S+|tornel-sync: .+)"
    R"(|Chaos mode: seed \d+, rate [\d.]+, crash rate [\d.]+|Chaos: connection \d+: \S.*)"
    R"(|Request: \w+ \(id [^)]*\)|Answered error: .*|Connection \d+: (closed|refused|request over).*))")));

} // namespace

class ChaosSoakTest : public QObject {
    Q_OBJECT
private slots:
    void companionOutlastsAChaoticDaemon();
};

void ChaosSoakTest::companionOutlastsAChaoticDaemon()
{
    CompanionProcess companion;
    const QString home = QDir::cleanPath(companion.homePath(QStringLiteral(".")));
    // Each launch draws its own seed; these meet every kind of trouble within the storm.
    QVERIFY(companion.isValid() && companion.installStandInDaemon(
        "n=$(( $(cat \"$HOME/launches\" 2>/dev/null || echo 0) + 1 )); echo $n > \"$HOME/launches\"\n"
        "export TORNEL_SIM_CHAOS=$(( 7123 + n )) TORNEL_SIM_CHAOS_RATE=1 TORNEL_SIM_CHAOS_CRASH_RATE=0.1\n"));
    QProcessEnvironment environment;
    // A small quarantine, so that freed memory leaves the sanitizer's heap and RSS means what it says.
    environment.insert(QStringLiteral("ASAN_OPTIONS"), qEnvironmentVariable("ASAN_OPTIONS") + QStringLiteral(":quarantine_size_mb=1"));
    QElapsedTimer clock;
    clock.start();
    companion.start({}, environment);
    const qint64 pid = companion.process().processId();
    QTRY_VERIFY_WITH_TIMEOUT(companion.standardOutput().contains("[daemon] Request: status (id 1)\n"), waitMs);
    QTest::qWait(2000);
    const Usage atStart = usageOf(pid);

    // The storm. Whatever happens, the companion must stay up.
    while (clock.elapsed() < stormMs) {
        QTest::qWait(500);
        QVERIFY2(::kill(pid_t(pid), 0) == 0, "the companion died");
    }
    // The supervisor gives up on a daemon that only fails, so that the
    // test's daemon is the only one and shows that polling goes on.
    QVERIFY(companion.installDaemon("#!/bin/sh\nexit 1\n"));
    for (const qint64 daemon : processesOfRun(home)) {
        if (daemon != pid)
            ::kill(pid_t(daemon), SIGKILL);
    }
    QTRY_VERIFY_WITH_TIMEOUT(companion.standardOutput().endsWith("[daemon] Too many restarts, giving up\n"), 30'000);
    ScriptedDaemon calmDaemon(companion.socketPath());
    QTRY_VERIFY_WITH_TIMEOUT(calmDaemon.requestCount() >= 2, waitMs);

    // No hung request is left (they end after 10 s), so threads and sockets are back.
    Usage atEnd{};
    QTRY_VERIFY_WITH_TIMEOUT((atEnd = usageOf(pid)).within(atStart), 40'000);
    qInfo("at start and at the end: %lld and %lld threads, %lld and %lld fds, %lld and %lld kB", atStart.threads,
          atEnd.threads, atStart.fds, atEnd.fds, atStart.rssKb, atEnd.rssKb);

    const QByteArray output = companion.standardOutput();
    for (const QByteArray &line : output.split('\n').mid(0, output.count('\n')))
        QVERIFY2(wellFormed.match(QString::fromUtf8(line)).hasMatch(), line.constData());
    for (const char *event : {"hanging", "closing without an answer", "garbage", "error object", "two pieces",
                              "1 MiB", "exiting with status", "killed by signal"})
        QVERIFY2(output.contains(event), event);

    // SIGTERM: a clean exit, and nothing of the run left behind.
    QVERIFY2(companion.endWithSignal(SIGTERM, waitMs), companion.standardError().right(4000).constData());
    QTRY_VERIFY_WITH_TIMEOUT(processesOfRun(home).isEmpty(), 5000);
}

QTEST_GUILESS_MAIN(ChaosSoakTest)
#include "test_chaos_soak.moc"
