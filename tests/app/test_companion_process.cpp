// The built companion end to end, offscreen without a tray: how it polls,
// stops and launches its daemon, and how it keeps to one companion per
// session (its runtime directory, or Qt's private fallback when that is safe).
#include "companion_process.h"
#include "process_state.h"

#include <QDir>
#include <QLocalServer>
#include <QLockFile>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <memory>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int waitMs = 15000;
// How long the companion waits for the daemon to end after SIGTERM.
constexpr int daemonStopGraceMs = 5000;

QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

// What a process holds beyond a clean start: its descriptors (and what its
// input is), blocked and ignored signals.
QString inheritance(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    static const QRegularExpression mask(QStringLiteral("^(SigBlk|SigIgn):\\s+(\\S+)$"), QRegularExpression::MultilineOption);
    QString found = QStringLiteral("fds ") + entriesOf(QStringLiteral("/proc/%1/fd").arg(pid)).join(u' ')
        + QStringLiteral(" input ") + QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/0").arg(pid));
    // Signals 32 and 33 belong to the C library, which refuses to change
    // them; make, for one, hands them on ignored to everything it runs.
    constexpr quint64 reservedByLibc = 0x180000000;
    for (const QRegularExpressionMatch &match : mask.globalMatch(QString::fromLatin1(text))) {
        const quint64 set = match.captured(2).toULongLong(nullptr, 16) & ~reservedByLibc;
        found += u' ' + match.captured(1) + QStringLiteral(" %1").arg(set, 16, 16, QLatin1Char('0'));
    }
    return found;
}

} // namespace

class CompanionProcessTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void quitsInTimeWhileStandardOutputStalls();
    void pollsAndStopsInOrderOnSignal_data();
    void pollsAndStopsInOrderOnSignal();
    void launchedDaemonsInheritNothing_data();
    void launchedDaemonsInheritNothing();
    void withoutPrivateRuntimeDirectoryItsOwnFolderServes_data();
    void withoutPrivateRuntimeDirectoryItsOwnFolderServes();
    void socketOfACrashedCompanionIsReplaced();
    void simultaneousStartsElectOne();
    void silentHolderIsNeitherJoinedNorReplaced();
    void helpSpeaksTheLocalesLanguage_data();
    void helpSpeaksTheLocalesLanguage();

private:
    QString runtime() const { return m_companion->homePath(QStringLiteral("runtime")); }
    // Qt's private runtime directory when XDG_RUNTIME_DIR is empty and TMPDIR is runtime().
    QString fallback() const { return runtime() + QStringLiteral("/runtime-") + QString::fromLocal8Bit(getpwuid(geteuid())->pw_name); }
    // The first start became the companion and launched its daemon.
    bool companionRuns() { return m_companion->daemonPids().size() == 1; }

    std::unique_ptr<CompanionProcess> m_companion;
};

void CompanionProcessTest::init()
{
    m_companion = std::make_unique<CompanionProcess>();
    QVERIFY(m_companion->isValid() && m_companion->installDaemon("#!/bin/sh\nexec sleep 600\n"));
}

void CompanionProcessTest::pollsAndStopsInOrderOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

// A reader of standard output that never reads (a terminal paused with
// Ctrl-S, a stalled logger) holds up neither supervision nor quitting.
void CompanionProcessTest::quitsInTimeWhileStandardOutputStalls()
{
    const QString fifo = m_companion->homePath(QStringLiteral("stalled"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    const auto closeReader = qScopeGuard([reader] { ::close(reader); });
    QVERIFY(m_companion->installStandInDaemon("(while :; do echo 'a daemon that talks a lot'; done) &"));
    m_companion->process().setStandardOutputFile(fifo);
    m_companion->start();
    QTest::qWait(3000); // the pipe is full long before
    QElapsedTimer quitting;
    quitting.start();
    QVERIFY2(m_companion->endWithSignal(SIGTERM, 10000), m_companion->standardError().constData());
    QVERIFY2(quitting.elapsed() < daemonStopGraceMs + 2000, qPrintable(QString::number(quitting.elapsed())));
}

void CompanionProcessTest::pollsAndStopsInOrderOnSignal()
{
    QFETCH(int, signal);
    // The daemon's own child ends with it.
    QVERIFY(m_companion->installStandInDaemon("sleep 600 & echo $! > \"$HOME/child\""));
    m_companion->start();
    QTRY_VERIFY_WITH_TIMEOUT(m_companion->standardOutput().contains("[daemon] Request: status (id 2)\n"), waitMs);
    QFile childPid(m_companion->homePath(QStringLiteral("child")));
    QVERIFY(childPid.open(QIODevice::ReadOnly));
    const pid_t child = pid_t(childPid.readAll().trimmed().toInt());
    QVERIFY(child > 0 && processRuns(child));

    // The daemon is asked with SIGTERM and is done well within its grace period.
    QVERIFY2(m_companion->endWithSignal(signal, 2000), m_companion->standardError().constData());
    const QList<QByteArray> output = m_companion->standardOutput().trimmed().split('\n');
    QVERIFY(output.first().startsWith("[daemon] Started (PID: ") && companionRuns());
    QVERIFY(output.contains("[daemon] Received signal 15; socket removed, exiting"));
    QVERIFY(output.contains("[daemon] Process exited with status 0"));
    QCOMPARE(output.last(), QByteArray("[daemon] Stopped"));
    QCOMPARE(entriesOf(runtime()), QStringList());
    QTRY_VERIFY(!processRuns(child));
}

// The companion (for its own writes) and D-Bus ignore SIGPIPE
// process-wide, and it holds a descriptor it was handed without
// close-on-exec; none of that may reach a daemon, the first or one restarted
// later, on Linux's own launch or on posix_spawn, which Linux falls back to
// when pidfd_open is refused. Either way the daemon is supervised and stopped.
void CompanionProcessTest::launchedDaemonsInheritNothing_data()
{
    QTest::addColumn<bool>("refusePidfd");
    QTest::newRow("own launch") << false;
    if (!QByteArray(TORNEL_REFUSE_PIDFD_OPEN).isEmpty())
        QTest::newRow("pidfd_open refused") << true;
}

void CompanionProcessTest::launchedDaemonsInheritNothing()
{
    QFETCH(bool, refusePidfd);
    const QString refusals = m_companion->homePath(QStringLiteral("refused-pidfd"));
    QProcessEnvironment environment;
    if (refusePidfd) {
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(TORNEL_REFUSE_PIDFD_OPEN));
        environment.insert(QStringLiteral("TORNEL_REFUSED_PIDFD_LOG"), refusals);
        // The sanitizer's runtime would insist on coming first.
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0"));
    }
    int handedOn[2];
    QCOMPARE(::pipe(handedOn), 0);
    m_companion->start({}, environment);
    ::close(handedOn[0]);
    ::close(handedOn[1]);
    const QString clean = QStringLiteral("fds 0 1 2 input /dev/null SigBlk 0000000000000000 SigIgn 0000000000000000");
    QTRY_VERIFY_WITH_TIMEOUT(companionRuns(), waitMs);
    QVERIFY(entriesOf(QStringLiteral("/proc/%1/fd").arg(m_companion->process().processId())).contains(QString::number(handedOn[1])));
    QTRY_COMPARE_WITH_TIMEOUT(inheritance(m_companion->daemonPids().first()), clean, waitMs);
    QCOMPARE(QFile::exists(refusals), refusePidfd);

    for (int start = 0; start < 2; ++start) {
        QByteArray output;
        QCOMPARE(m_companion->runAnother(&output), 0);
        QCOMPARE(output, QByteArray());
    }
    const qint64 first = m_companion->daemonPids().first();
    QCOMPARE(::kill(pid_t(first), SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_companion->daemonPids().size(), 2, waitMs);
    const qint64 restarted = m_companion->daemonPids().last();
    QTRY_COMPARE_WITH_TIMEOUT(inheritance(restarted), clean, waitMs);

    QVERIFY2(m_companion->endWithSignal(SIGTERM, 2000), m_companion->standardError().constData());
    QVERIFY(m_companion->standardOutput().endsWith("[daemon] Stopped\n"));
    QVERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(restarted)));
}

// Where the lock and the socket of one-Tornel-per-session live when
// XDG_RUNTIME_DIR is missing or shared: a folder of Tornel's own in the
// user's cache, whoever took Qt's fallback folder in /tmp first.
void CompanionProcessTest::withoutPrivateRuntimeDirectoryItsOwnFolderServes_data()
{
    QTest::addColumn<QString>("runtimeDirectory"); // "shared": one readable by others
    QTest::addColumn<bool>("fallbackTakenByAnotherUser");
    QTest::newRow("unset") << QString() << false;
    QTest::newRow("shared") << QStringLiteral("shared") << false;
    QTest::newRow("unset, Qt's fallback taken by another user") << QString() << true;
}

void CompanionProcessTest::withoutPrivateRuntimeDirectoryItsOwnFolderServes()
{
    QFETCH(QString, runtimeDirectory);
    QFETCH(bool, fallbackTakenByAnotherUser);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("TMPDIR"), runtime());
    if (runtimeDirectory.isEmpty()) {
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString());
    } else {
        QVERIFY(QDir().mkpath(runtime()) && QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner |
                                                                 QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime());
    }
    if (fallbackTakenByAnotherUser) {
        QVERIFY(QDir().mkpath(fallback()));
        if (::chown(QFile::encodeName(fallback()).constData(), 65534, 65534) != 0)
            QSKIP("only root can hand a folder to another user");
    }
    const QString own = m_companion->homePath(QStringLiteral(".cache/tornel"));
    m_companion->start({}, environment);
    QTRY_VERIFY_WITH_TIMEOUT(companionRuns(), waitMs);
    QCOMPARE(entriesOf(own), QStringList{QStringLiteral("tornel.sock")});
    QCOMPARE(QFileInfo(own).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    QCOMPARE(m_companion->runAnother(), 0);
    QVERIFY(m_companion->endWithSignal(SIGTERM, waitMs));
    QVERIFY(!m_companion->standardError().contains("cannot make sure only one Tornel runs"));
    QCOMPARE(m_companion->daemonPids().size(), 1);
}

void CompanionProcessTest::socketOfACrashedCompanionIsReplaced()
{
    m_companion->start();
    QTRY_VERIFY_WITH_TIMEOUT(companionRuns(), waitMs);
    m_companion->process().kill();
    QVERIFY(m_companion->process().waitForFinished(waitMs));
    QCOMPARE(entriesOf(runtime()), QStringList{QStringLiteral("tornel.sock")});

    m_companion->start();
    QTRY_COMPARE_WITH_TIMEOUT(m_companion->daemonPids().size(), 2, waitMs);
    QCOMPARE(m_companion->runAnother(), 0);
}

// The window between finding no one and listening is too short to hit from
// outside, so the test plays a start that is deciding while four more come,
// and then lets them go at once. Absence can only be waited for with a time limit.
void CompanionProcessTest::simultaneousStartsElectOne()
{
    QLockFile deciding(runtime() + QStringLiteral("/tornel.lock"));
    QVERIFY(deciding.lock());
    QList<QProcess *> starts;
    for (int i = 0; i < 4; ++i)
        starts.append(&m_companion->startAnother());
    QByteArray output;
    const auto handedOver = [&] {
        for (QProcess *start : starts)
            output += start->readAllStandardOutput();
        return std::count_if(starts.begin(), starts.end(), [](QProcess *start) { return start->state() == QProcess::NotRunning && start->exitCode() == 0; });
    };
    QTest::qWait(1500);
    QCOMPARE(handedOver(), 0);
    QCOMPARE(output, QByteArray());
    deciding.unlock();
    QTRY_VERIFY_WITH_TIMEOUT(handedOver() == 3 && output.contains("[daemon] Started"), waitMs);
    QCOMPARE(output.count("[daemon] Started"), 1);
}

void CompanionProcessTest::silentHolderIsNeitherJoinedNorReplaced()
{
    // The test's event loop does not run while the start works, so the
    // holder accepts the connection in the kernel and never answers.
    QLocalServer holder;
    QVERIFY(holder.listen(runtime() + QStringLiteral("/tornel.sock")));
    QByteArray output;
    QCOMPARE(m_companion->runAnother(&output), 1);
    QCOMPARE(output, "tornel.app: Tornel is already running but does not answer at " + holder.fullServerName().toUtf8() + '\n');
    QVERIFY(holder.waitForNewConnection(waitMs));
    QVERIFY(QFile::exists(holder.fullServerName()));
}

// The companion's texts and Qt's own, from LANG, in the program itself.
void CompanionProcessTest::helpSpeaksTheLocalesLanguage_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::newRow("German") << QStringLiteral("de_DE.UTF-8") << QByteArrayList{"Optionen:", "Zeigt diese Hilfe an."};
    QTest::newRow("no translation") << QStringLiteral("xx_XX.UTF-8") << QByteArrayList{"Options:", "Displays this help."};
}

void CompanionProcessTest::helpSpeaksTheLocalesLanguage()
{
    QFETCH(QString, lang);
    QFETCH(QByteArrayList, expected);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("LANG"), lang);
    m_companion->start({QStringLiteral("--help")}, environment);
    QVERIFY(m_companion->process().waitForFinished(waitMs));
    const QByteArray help = m_companion->standardOutput();
    for (const QByteArray &text : expected)
        QVERIFY2(help.contains(text), help.constData());
}

QTEST_GUILESS_MAIN(CompanionProcessTest)
#include "test_companion_process.moc"
