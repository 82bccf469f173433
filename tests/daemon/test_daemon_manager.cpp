#include "daemon/daemon_manager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <mutex>

#include <csignal>
#include <cstdio>

using namespace std::chrono_literals;

namespace {

const QFile::Permissions executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
const QFile::Permissions notExecutable = QFile::ReadOwner | QFile::WriteOwner;

// The manager's messages, from whichever thread wrote them, with arrival times.
class OutputCapture {
public:
    struct Entry {
        qint64 atMs;
        QString line;
    };

    OutputCapture() { m_clock.start(); }

    DaemonManager::OutputSink sink()
    {
        return [this](const QByteArray &message) {
            std::lock_guard lock(m_mutex);
            m_text += message;
            m_arrivals.append(m_clock.elapsed());
        };
    }

    // Whole lines, each PID written as N so texts compare exactly. A message
    // without its line feed runs into the next one and fails the comparison.
    QStringList lines() const
    {
        static const QRegularExpression pid(QStringLiteral("^(\\[daemon\\] Started \\(PID: )\\d+\\)$"));
        QStringList result;
        for (const Entry &entry : entries())
            result.append(QString(entry.line).replace(pid, QStringLiteral("\\1N)")));
        return result;
    }

    QList<Entry> entries() const
    {
        std::lock_guard lock(m_mutex);
        QStringList lines = QString::fromUtf8(m_text).split(u'\n');
        lines.removeLast();
        QList<Entry> result;
        for (qsizetype i = 0; i < lines.size(); ++i)
            result.append({i < m_arrivals.size() ? m_arrivals.at(i) : -1, lines.at(i)});
        return result;
    }

    bool contains(const QString &line) const { return lines().contains(line); }

private:
    mutable std::mutex m_mutex;
    QByteArray m_text;
    QList<qint64> m_arrivals;
    QElapsedTimer m_clock;
};

// "Now" only moves when the test says so: restarts meet the window exactly as intended.
class ManualClock {
public:
    DaemonManager::SteadyClock clock()
    {
        return [this] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(m_nowMs.load())); };
    }
    void set(std::chrono::milliseconds now) { m_nowMs = now.count(); }

private:
    std::atomic<qint64> m_nowMs{0};
};

DaemonManager::SteadyClock steadyNow()
{
    return [] { return std::chrono::steady_clock::now(); };
}

QString started()
{
    return QStringLiteral("[daemon] Started (PID: N)");
}

QString exited(int status)
{
    return QStringLiteral("[daemon] Process exited with status %1").arg(status);
}

// Alive and not merely a zombie waiting for a parent to collect it.
bool processRuns(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray fields = stat.readAll();
    const qsizetype afterName = fields.lastIndexOf(')');
    return afterName > 0 && fields.size() > afterName + 2 && fields.at(afterName + 2) != 'Z';
}

qint64 startedPid(const QString &output)
{
    static const QRegularExpression pid(QStringLiteral("\\[daemon\\] Started \\(PID: (\\d+)\\)"));
    const QRegularExpressionMatch match = pid.match(output);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

} // namespace

class TestDaemonManager : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void searchOrder();
    void companionDirectoryComesFirst();
    void failedStartIsReportedAndNeverReady();
    void echoesWholeLines();
    void onlyStandardOutputAndErrorHoldThePipe();
    void readyOneSecondAfterLaunchEvenWhenDaemonDied();
    void startWhileRunningCallsBackAtOnce();
    void stopKillsDaemonThatIgnoresTerm();
    void stopWithoutChildPrintsNothing();
    void restartsAfterOneTwoFourSecondsThenGivesUp();
    void windowIsMeasuredFromThePreviousRestart();
    void signalNumberIsTheStatus();
    void noOrphanWhenCompanionIsKilled();

private:
    QString homeDaemon() const { return m_home->path() + QStringLiteral("/.tornel/bin/tornel-sync"); }
    static void writeScript(const QString &path, const QByteArray &body, QFile::Permissions permissions = executable);

    std::unique_ptr<QTemporaryDir> m_home;
    QString m_workingDirectory;
};

void TestDaemonManager::initTestCase()
{
    for (const QString &first : {QCoreApplication::applicationDirPath() + QStringLiteral("/tornel-sync"),
                                 QStringLiteral("/usr/local/bin/tornel-sync")}) {
        if (QFileInfo::exists(first))
            QSKIP(qPrintable(first + QStringLiteral(" would be launched instead of the test scripts")));
    }
    m_workingDirectory = QDir::currentPath();
}

void TestDaemonManager::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    qputenv("PATH", "/usr/bin:/bin");
}

void TestDaemonManager::cleanup()
{
    QDir::setCurrent(m_workingDirectory);
    m_home.reset();
}

void TestDaemonManager::writeScript(const QString &path, const QByteArray &body, QFile::Permissions permissions)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("#!/bin/sh\n" + body);
    file.close();
    QVERIFY(file.setPermissions(permissions));
}

void TestDaemonManager::searchOrder()
{
    const QString home = m_home->path();
    // Empty and relative entries of PATH name folders below the working folder.
    writeScript(home + QStringLiteral("/tornel-sync"), "exit 0\n");
    writeScript(home + QStringLiteral("/work/tornel-sync"), "exit 0\n");
    QVERIFY(QDir::setCurrent(home));
    OutputCapture capture;
    DaemonManager manager(capture.sink(), steadyNow());
    qputenv("PATH", ".:work");
    QCOMPARE(manager.daemonPath(), QString());
    qputenv("PATH", QFile::encodeName(QStringLiteral(".::work:%1/path:/usr/bin:/bin").arg(home)));
    QCOMPARE(manager.daemonPath(), QString());

    const QString onPath = home + QStringLiteral("/path/tornel-sync");
    writeScript(onPath, "exit 0\n", notExecutable);
    QCOMPARE(manager.daemonPath(), QString());
    QVERIFY(QFile::setPermissions(onPath, executable));
    QCOMPARE(manager.daemonPath(), onPath);

    // The fixed places only need an entry to exist.
    const QString goBin = home + QStringLiteral("/go/bin/tornel-sync");
    writeScript(goBin, "exit 0\n", notExecutable);
    QCOMPARE(manager.daemonPath(), goBin);
    writeScript(homeDaemon(), "exit 0\n");
    QCOMPARE(manager.daemonPath(), homeDaemon());
    QVERIFY(capture.lines().isEmpty());
}

void TestDaemonManager::companionDirectoryComesFirst()
{
    // A copy of this program in a folder of its own, with a daemon beside it.
    const QString companionDir = m_home->path() + QStringLiteral("/companion");
    QVERIFY(QDir().mkpath(companionDir));
    const QString companion = companionDir + QStringLiteral("/companion");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), companion));
    writeScript(companionDir + QStringLiteral("/tornel-sync"), "exit 0\n");
    writeScript(homeDaemon(), "exit 0\n");

    QProcess process;
    process.start(companion, {QStringLiteral("--print-daemon-path")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(QString::fromLocal8Bit(process.readAllStandardOutput()), companionDir + QStringLiteral("/tornel-sync"));
}

void TestDaemonManager::failedStartIsReportedAndNeverReady()
{
    OutputCapture capture;
    DaemonManager manager(capture.sink(), steadyNow());
    int readyCalls = 0;
    manager.start([&] { ++readyCalls; });
    writeScript(homeDaemon(), "exit 0\n", notExecutable);
    manager.start([&] { ++readyCalls; });

    QCOMPARE(capture.lines(),
             (QStringList{QStringLiteral("[daemon] Failed to start: tornel-sync (looked beside the companion, in "
                                         "/usr/local/bin, ~/.tornel/bin, ~/go/bin and on PATH): No such file or "
                                         "directory (errno 2)"),
                          QStringLiteral("[daemon] Failed to start: %1: Permission denied (errno 13)")
                              .arg(homeDaemon())}));
    // Proving that nothing comes needs the wait the ready callback would take.
    QTest::qWait(int(DaemonManager::readyDelay.count()) + 300);
    QCOMPARE(readyCalls, 0);
    QCOMPARE(capture.lines().size(), 2);
}

void TestDaemonManager::echoesWholeLines()
{
    writeScript(homeDaemon(),
                "printf 'a'\nsleep 0.2\nprintf 'b\\none\\ntwo\\n'\n"
                "printf 'caf\\303'\nsleep 0.2\nprintf '\\251\\n'\n"
                "printf 'bad\\377\\376x\\n'\nseq 10000\nprintf 'no line feed'\n");
    OutputCapture capture;
    DaemonManager manager(capture.sink(), steadyNow());
    manager.start();
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(exited(0)), 10000);
    // Joins the waiter: a restart of the status-0 exit would show up by now.
    manager.stop();

    QStringList expected{started(), QStringLiteral("[daemon] ab"), QStringLiteral("[daemon] one"),
                         QStringLiteral("[daemon] two"), QStringLiteral("[daemon] caf\u00E9"),
                         QStringLiteral("[daemon] bad\uFFFD\uFFFDx")};
    // A burst just before the exit, still being read when the daemon is gone.
    for (int i = 1; i <= 10000; ++i)
        expected.append(QStringLiteral("[daemon] %1").arg(i));
    expected << QStringLiteral("[daemon] no line feed") << exited(0);
    QCOMPARE(capture.lines(), expected);
}

void TestDaemonManager::onlyStandardOutputAndErrorHoldThePipe()
{
    // Counts the descriptors that point at the pipe of standard output: a
    // leaked read end would make three and keep the pipe from ending.
    writeScript(homeDaemon(),
                "pipe=$(readlink /proc/$$/fd/1)\nends=0\n"
                "for fd in /proc/$$/fd/*; do [ \"$(readlink $fd)\" = \"$pipe\" ] && ends=$((ends+1)); done\n"
                "echo \"$ends ends\" >&2\n");
    OutputCapture capture;
    DaemonManager manager(capture.sink(), steadyNow());
    manager.start();
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(exited(0)), 5000);
    QCOMPARE(capture.lines(), (QStringList{started(), QStringLiteral("[daemon] 2 ends"), exited(0)}));
}

void TestDaemonManager::readyOneSecondAfterLaunchEvenWhenDaemonDied()
{
    writeScript(homeDaemon(), "exit 0\n");
    OutputCapture capture;
    DaemonManager manager(capture.sink(), steadyNow());
    QElapsedTimer sinceStart;
    sinceStart.start();
    qint64 readyAfterMs = -1;
    bool daemonHadExited = false;
    manager.start([&] {
        readyAfterMs = sinceStart.elapsed();
        daemonHadExited = capture.contains(exited(0));
    });
    QTRY_VERIFY_WITH_TIMEOUT(readyAfterMs >= 0, 5000);
    QVERIFY(daemonHadExited);
    QVERIFY2(readyAfterMs >= DaemonManager::readyDelay.count() - 10, qPrintable(QString::number(readyAfterMs)));
}

void TestDaemonManager::startWhileRunningCallsBackAtOnce()
{
    writeScript(homeDaemon(), "echo up\nexec sleep 60\n");
    OutputCapture capture;
    DaemonManager manager(capture.sink(), steadyNow());
    manager.start();
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(QStringLiteral("[daemon] up")), 5000);
    const qint64 pid = startedPid(capture.entries().first().line);
    QVERIFY(processRuns(pid));

    bool ready = false;
    manager.start([&] { ready = true; });
    QVERIFY(ready);

    manager.stop();
    QVERIFY(!processRuns(pid));
    QCOMPARE(capture.lines(),
             (QStringList{started(), QStringLiteral("[daemon] up"), exited(SIGTERM), QStringLiteral("[daemon] Stopped")}));
}

void TestDaemonManager::stopKillsDaemonThatIgnoresTerm()
{
    // An ignored signal stays ignored across exec.
    writeScript(homeDaemon(), "trap '' TERM\necho ignoring\nexec sleep 60\n");
    OutputCapture capture;
    DaemonManager manager(capture.sink(), steadyNow());
    manager.start();
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(QStringLiteral("[daemon] ignoring")), 5000);

    QElapsedTimer stopping;
    stopping.start();
    manager.stop();
    QVERIFY(stopping.elapsed() >= std::chrono::milliseconds(DaemonManager::stopGrace).count() - 100);
    QCOMPARE(capture.lines(), (QStringList{started(), QStringLiteral("[daemon] ignoring"), exited(SIGKILL),
                                           QStringLiteral("[daemon] Stopped")}));
}

void TestDaemonManager::stopWithoutChildPrintsNothing()
{
    OutputCapture capture;
    DaemonManager manager(capture.sink(), steadyNow());
    manager.stop();
    manager.stop();
    QVERIFY(capture.lines().isEmpty());
}

void TestDaemonManager::restartsAfterOneTwoFourSecondsThenGivesUp()
{
    writeScript(homeDaemon(), "echo run\nexit 3\n");
    OutputCapture capture;
    ManualClock frozen; // every failure falls within the window
    DaemonManager manager(capture.sink(), frozen.clock());
    manager.start();
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(QStringLiteral("[daemon] Too many restarts, giving up")), 20000);
    manager.stop();

    const QString run = QStringLiteral("[daemon] run");
    QCOMPARE(capture.lines(),
             (QStringList{started(), run, exited(3), QStringLiteral("[daemon] Restarting in 1.0s (attempt 1/3)"),
                          started(), run, exited(3), QStringLiteral("[daemon] Restarting in 2.0s (attempt 2/3)"),
                          started(), run, exited(3), QStringLiteral("[daemon] Restarting in 4.0s (attempt 3/3)"),
                          started(), run, exited(3), QStringLiteral("[daemon] Too many restarts, giving up")}));

    // Each relaunch waited its delay.
    const QList<OutputCapture::Entry> entries = capture.entries();
    for (qsizetype i = 0; i + 1 < entries.size(); ++i) {
        if (entries.at(i).line.startsWith(QStringLiteral("[daemon] Restarting in "))) {
            const double delaySeconds = entries.at(i).line.section(u' ', 3, 3).chopped(1).toDouble();
            QVERIFY(entries.at(i + 1).atMs - entries.at(i).atMs >= qint64(delaySeconds * 1000) - 10);
        }
    }
}

void TestDaemonManager::windowIsMeasuredFromThePreviousRestart()
{
    writeScript(homeDaemon(), "exit 1\n");
    OutputCapture capture;
    ManualClock clock;
    DaemonManager manager(capture.sink(), clock.clock());
    manager.start();
    const QString first = QStringLiteral("[daemon] Restarting in 1.0s (attempt 1/3)");
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(first), 5000);
    // Exactly 60.0 s later is still the same window...
    clock.set(60s);
    const QString second = QStringLiteral("[daemon] Restarting in 2.0s (attempt 2/3)");
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(second), 5000);
    // ...and just over 60 s after that restart (120 s after the first) begins a new one.
    clock.set(120001ms);
    QTRY_VERIFY_WITH_TIMEOUT(capture.lines().count(first) == 2, 8000);

    // Stopping cancels the pending relaunch.
    manager.stop();
    QTest::qWait(1500);
    const QStringList lines = capture.lines();
    QCOMPARE(lines.filter(QStringLiteral("Restarting")), (QStringList{first, second, first}));
    QCOMPARE(lines.count(started()), 3);
    QCOMPARE(lines.last(), first);
}

void TestDaemonManager::signalNumberIsTheStatus()
{
    writeScript(homeDaemon(), "kill -KILL $$\n");
    OutputCapture capture;
    DaemonManager manager(capture.sink(), steadyNow());
    manager.start();
    const QString restart = QStringLiteral("[daemon] Restarting in 1.0s (attempt 1/3)");
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(restart), 5000);
    manager.stop();
    QCOMPARE(capture.lines(), (QStringList{started(), exited(SIGKILL), restart}));
}

void TestDaemonManager::noOrphanWhenCompanionIsKilled()
{
    writeScript(homeDaemon(), "exec sleep 60\n");
    QProcess companion;
    companion.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--own-daemon")});
    QVERIFY(companion.waitForStarted());
    QString output;
    QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromUtf8(companion.readAllStandardOutput()), startedPid(output) > 0),
                             10000);
    const qint64 daemonPid = startedPid(output);
    QVERIFY(processRuns(daemonPid));

    companion.kill();
    QVERIFY(companion.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(!processRuns(daemonPid), 5000);
}

// Roles this program plays for the tests above, as a companion of its own.
namespace {

int printDaemonPath(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const DaemonManager manager;
    std::fputs(qPrintable(manager.daemonPath()), stdout);
    return 0;
}

int ownDaemon(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    DaemonManager manager;
    manager.start();
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--print-daemon-path") == 0)
        return printDaemonPath(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--own-daemon") == 0)
        return ownDaemon(argc, argv);
    QCoreApplication app(argc, argv);
    TestDaemonManager test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_daemon_manager.moc"
