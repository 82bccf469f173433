// About two minutes of the built companion (offscreen) against the stand-in
// daemon in chaos mode: answers that hang up to 12 s, closed connections,
// garbage, error objects, answers in two pieces or past 1 MiB, and a daemon
// that exits or is killed now and then, restarted within the limit and then
// past it. Afterwards the companion must still poll, hold no more threads,
// descriptors or memory than a small margin over its start, have written
// only well-formed lines, and leave nothing running after SIGTERM.
#include "companion_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <csignal>

namespace {

// Chaos runs until this long after start; then the daemon is killed until
// the supervisor gives up.
constexpr int chaosMs = 80'000;
constexpr int waitMs = 15'000;
// After the storm: worker threads that waited on hung answers may linger
// until the pool retires them, sockets must all be closed.
constexpr int threadMargin = 2;
constexpr int fdMargin = 2;
constexpr qint64 rssMarginKb = 8 * 1024;

const QString chaosSeed = QStringLiteral("7100");

struct Usage {
    int threads = 0;
    int fds = 0;
    qint64 rssKb = 0;
};

Usage usageOf(qint64 pid)
{
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    Usage usage;
    usage.threads = int(QDir(base + QStringLiteral("task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    usage.fds = int(QDir(base + QStringLiteral("fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    QFile status(base + QStringLiteral("status"));
    if (status.open(QIODevice::ReadOnly)) {
        static const QRegularExpression rss(QStringLiteral("VmRSS:\\s+(\\d+)"));
        usage.rssKb = rss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
    }
    return usage;
}

QString describe(const Usage &usage)
{
    return QStringLiteral("%1 threads, %2 fds, %3 kB RSS").arg(usage.threads).arg(usage.fds).arg(usage.rssKb);
}

// Processes whose environment names this run's HOME: the companion, its
// daemons and anything they started.
QList<qint64> processesOfRun(const QString &home)
{
    const QByteArray marker = "HOME=" + home.toUtf8();
    QList<qint64> pids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(marker))
            pids.append(pid);
    }
    return pids;
}

const QList<QRegularExpression> &supervisorMessages()
{
    static const QList<QRegularExpression> messages = [] {
        QList<QRegularExpression> list;
        for (const char *pattern : {R"(Started \(PID: \d+\))", R"(Failed to start: .+)", R"(Process exited with status \d+)",
                                    R"(Restarting in \d+\.\d+s \(attempt [1-3]/3\))", R"(Too many restarts, giving up)",
                                    R"(Stopped)"})
            list.append(QRegularExpression(QRegularExpression::anchoredPattern(QLatin1StringView(pattern))));
        return list;
    }();
    return messages;
}

// Every line the stand-in daemon writes, whole.
const QRegularExpression &daemonLine()
{
    static const QRegularExpression line(QRegularExpression::anchoredPattern(QStringLiteral(
        R"((Listening on \S+ \(logged out\))"
        R"(|Chaos mode: seed \d+, rate [\d.]+, crash rate [\d.]+)"
        R"(|Chaos: connection \d+: \S.*)"
        R"(|Request: \w+ \(id [^)]*\))"
        R"(|Answered error: .*)"
        R"(|Connection \d+: (closed|refused|request over).*)"
        R"(|Received signal \d+; socket removed, exiting)"
        R"(|Removed stale socket \S+)"
        R"(|State: \w+ -> \w+.*)"
        R"(|Changes arrived: \d+ to upload, \d+ to download)"
        R"(|tornel-sync: .+))")));
    return line;
}

// The daemon's last reported PID while it runs, or 0.
qint64 runningDaemon(const QList<QByteArray> &messages)
{
    static const QRegularExpression started(QStringLiteral(R"(^Started \(PID: (\d+)\)$)"));
    for (qsizetype i = messages.size() - 1; i >= 0; --i) {
        if (messages[i].startsWith("Process exited with status"))
            return 0;
        const QRegularExpressionMatch match = started.match(QString::fromUtf8(messages[i]));
        if (match.hasMatch())
            return match.captured(1).toLongLong();
    }
    return 0;
}

} // namespace

class ChaosSoakTest : public QObject {
    Q_OBJECT
private slots:
    void companionOutlastsAChaoticDaemon();

private:
    // The companion's output so far, as lines without the "[daemon] " prefix.
    QList<QByteArray> messages();
    // The supervisor's own lines among them.
    QList<QByteArray> supervisorLines();

    CompanionProcess m_companion;
};

QList<QByteArray> ChaosSoakTest::messages()
{
    QList<QByteArray> result;
    const QList<QByteArray> lines = m_companion.standardOutput().split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) // the last piece is an unfinished line
        result.append(lines[i].startsWith("[daemon] ") ? lines[i].sliced(9) : "(no prefix) " + lines[i]);
    return result;
}

QList<QByteArray> ChaosSoakTest::supervisorLines()
{
    QList<QByteArray> result;
    for (const QByteArray &message : messages()) {
        for (const QRegularExpression &pattern : supervisorMessages()) {
            if (pattern.match(QString::fromUtf8(message)).hasMatch())
                result.append(message);
        }
    }
    return result;
}

void ChaosSoakTest::companionOutlastsAChaoticDaemon()
{
    if (QFileInfo::exists(QStringLiteral("/usr/local/bin/tornel-sync")))
        QSKIP("a tornel-sync in /usr/local/bin would be launched instead of the test's daemon");
    QVERIFY(m_companion.isValid());
    const QString home = QDir::cleanPath(m_companion.homePath(QStringLiteral(".")));
    // Each launch draws its own seed, so a restarted daemon meets new events.
    QVERIFY(m_companion.installDaemon(QStringLiteral(
        "#!/bin/sh\n"
        "count=\"$HOME/.tornel/launches\"\n"
        "n=$(( $(cat \"$count\" 2>/dev/null || echo 0) + 1 ))\n"
        "echo \"$n\" > \"$count\"\n"
        "export TORNEL_SIM_CHAOS=$(( %1 + n )) TORNEL_SIM_CHAOS_RATE=0.5 TORNEL_SIM_CHAOS_CRASH_RATE=0.03\n"
        "exec '%2'\n").arg(chaosSeed, QStringLiteral(TORNEL_SIM_PATH)).toUtf8()));

    QProcessEnvironment environment;
    // A small quarantine, so that freed memory leaves the sanitizer's heap and RSS means what it says.
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       qEnvironmentVariable("ASAN_OPTIONS") + QStringLiteral(":quarantine_size_mb=1"));
    QElapsedTimer clock;
    clock.start();
    m_companion.start({}, environment);
    const qint64 pid = m_companion.processId();
    QVERIFY(pid > 0);
    QTRY_VERIFY_WITH_TIMEOUT(messages().contains(QByteArray("Request: status (id 1)")), waitMs);
    QTest::qWait(2000);
    const Usage atStart = usageOf(pid);

    // The storm. Whatever happens, the companion must stay up.
    while (clock.elapsed() < chaosMs) {
        QTest::qWait(500);
        QVERIFY2(::kill(pid_t(pid), 0) == 0, "the companion died");
    }
    // Past the restart limit: kill each relaunched daemon at once.
    const QByteArray givingUp = "Too many restarts, giving up";
    QSet<qint64> killed;
    QElapsedTimer killing;
    killing.start();
    while (!supervisorLines().contains(givingUp) && killing.elapsed() < 40'000) {
        if (const qint64 daemon = runningDaemon(supervisorLines()); daemon && !killed.contains(daemon)) {
            ::kill(pid_t(daemon), SIGKILL);
            killed.insert(daemon);
        }
        QTest::qWait(100);
    }
    QCOMPARE(supervisorLines().count(givingUp), 1);

    // Still polling: a daemon started by hand hears status requests again.
    QProcess calmDaemon;
    QProcessEnvironment calmEnvironment = QProcessEnvironment::systemEnvironment();
    calmEnvironment.insert(QStringLiteral("HOME"), home);
    calmDaemon.setProcessEnvironment(calmEnvironment);
    calmDaemon.start(QStringLiteral(TORNEL_SIM_PATH), {});
    QVERIFY(calmDaemon.waitForStarted());
    QByteArray calmOutput;
    QTRY_VERIFY_WITH_TIMEOUT((calmOutput += calmDaemon.readAllStandardOutput()).count("Request: status") >= 2, waitMs);

    // No hung request is left (they end after 10 s), so threads and sockets are back.
    Usage atEnd;
    QTRY_VERIFY_WITH_TIMEOUT((atEnd = usageOf(pid)).threads <= atStart.threads + threadMargin
                                 && atEnd.fds <= atStart.fds + fdMargin,
                             40'000);
    qInfo("after start: %s; at the end: %s", qPrintable(describe(atStart)), qPrintable(describe(atEnd)));
    QVERIFY2(atEnd.rssKb <= atStart.rssKb + rssMarginKb, qPrintable(describe(atEnd)));

    // Every line is the supervisor's or one whole line of the daemon's.
    const QList<QByteArray> all = messages();
    for (const QByteArray &message : all) {
        const QString text = QString::fromUtf8(message);
        const bool known = daemonLine().match(text).hasMatch()
            || std::any_of(supervisorMessages().begin(), supervisorMessages().end(),
                           [&text](const QRegularExpression &pattern) { return pattern.match(text).hasMatch(); });
        QVERIFY2(known, message.constData());
    }
    // Each failed exit is followed by a restart or by giving up.
    const QList<QByteArray> supervisor = supervisorLines();
    int failures = 0, restarts = 0;
    for (qsizetype i = 0; i < supervisor.size(); ++i) {
        if (!supervisor[i].startsWith("Process exited with status ") || supervisor[i].endsWith(" 0"))
            continue;
        ++failures;
        QVERIFY2(i + 1 < supervisor.size()
                     && (supervisor[i + 1].startsWith("Restarting in ") || supervisor[i + 1] == givingUp),
                 supervisor[i].constData());
        restarts += supervisor[i + 1].startsWith("Restarting in ") ? 1 : 0;
    }
    // The run met every kind of trouble it is meant to.
    const QByteArray output = all.join('\n');
    for (const char *event : {"hanging", "closing without an answer", "garbage", "error object", "two pieces",
                              "1 MiB", "exiting with status", "killed by signal"})
        QVERIFY2(output.contains(event), event);
    // Within the limit the supervisor went through every attempt before giving up.
    for (const char *attempt : {"(attempt 1/3)", "(attempt 2/3)", "(attempt 3/3)"})
        QVERIFY2(std::any_of(supervisor.begin(), supervisor.end(),
                             [attempt](const QByteArray &line) { return line.endsWith(attempt); }),
                 attempt);
    qInfo("%d daemon failures (%d of them forced), %d restarts, %lld status requests reached a daemon",
          failures, int(killed.size()), restarts, qlonglong(output.count("Request: status")));

    // SIGTERM: a clean exit, and nothing of the run left behind.
    calmDaemon.terminate();
    QVERIFY(calmDaemon.waitForFinished(waitMs));
    const bool clean = m_companion.endWithSignal(SIGTERM, waitMs);
    QVERIFY2(clean, m_companion.standardError().right(4000).constData());
    QTRY_VERIFY_WITH_TIMEOUT(processesOfRun(home).isEmpty(), 5000);
}

QTEST_GUILESS_MAIN(ChaosSoakTest)
#include "test_chaos_soak.moc"
