// The built companion end to end, on the offscreen platform without a tray:
// it launches the daemon from ~/.tornel/bin, polls it every 2 s once it is
// ready, on SIGTERM, SIGINT or SIGHUP stops polling and then the daemon
// within moments, and gives each daemon it launches a clean start.
#include "companion_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <csignal>

namespace {

constexpr int waitMs = 15000;

QList<QByteArray> lines(const QByteArray &output)
{
    QList<QByteArray> result = output.split('\n');
    result.removeAll(QByteArray());
    return result;
}

// What a process holds beyond a clean start: blocked and ignored signals, and its descriptors.
QString inheritance(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return QStringLiteral("no such process");
    QStringList found;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigBlk:") || line.startsWith("SigIgn:"))
            found.append(QString::fromLatin1(line.simplified()));
    }
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    found.append(QStringLiteral("fds ") + fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name).join(u' '));
    return found.join(QStringLiteral(", "));
}

} // namespace

class CompanionProcessTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void pollsAndStopsInOrderOnSignal_data();
    void pollsAndStopsInOrderOnSignal();
    void launchedDaemonsInheritNothing();
};

void CompanionProcessTest::initTestCase()
{
    if (QFile::exists(QStringLiteral("/usr/local/bin/tornel-sync")))
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
    QVERIFY(companion.isValid() && companion.installStandInDaemon());
    companion.start();

    QElapsedTimer clock;
    clock.start();
    qint64 previousMs = -1;
    for (int id = 1; id <= requestsBeforeSignal; ++id) {
        QTRY_VERIFY_WITH_TIMEOUT(companion.standardOutput().contains(
                                     QStringLiteral("[daemon] Request: status (id %1)\n").arg(id).toUtf8()), waitMs);
        const qint64 nowMs = clock.elapsed();
        QVERIFY2(previousMs < 0 || (nowMs - previousMs > 1500 && nowMs - previousMs < 3500),
                 qPrintable(QStringLiteral("%1 ms between polls").arg(nowMs - previousMs)));
        previousMs = nowMs;
    }

    // The daemon is asked with SIGTERM and done well within its grace period.
    QVERIFY2(companion.endWithSignal(signal, 2000), companion.standardError().constData());
    const QList<QByteArray> output = lines(companion.standardOutput());
    QCOMPARE(companion.daemonPids().size(), 1);
    QVERIFY(output.first().startsWith("[daemon] Started (PID: "));
    QVERIFY(output.contains("[daemon] Received signal 15; socket removed, exiting"));
    QVERIFY(output.contains("[daemon] Process exited with status 0"));
    QCOMPARE(output.last(), QByteArray("[daemon] Stopped"));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QStringLiteral("/proc/%1").arg(companion.daemonPids().first())), 5000);
    QCOMPARE(QDir(companion.homePath(QStringLiteral("runtime"))).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
    // No tray offscreen: said once, and the daemon was supervised all the same.
    QCOMPARE(companion.standardError().count("waiting for a system tray"), 1);
}

// Qt's local sockets (used by a second start's hand-over) and D-Bus ignore
// SIGPIPE process-wide; neither that nor any descriptor may reach a daemon,
// the first or one restarted later.
void CompanionProcessTest::launchedDaemonsInheritNothing()
{
    const QString clean = QStringLiteral("SigBlk: 0000000000000000, SigIgn: 0000000000000000, fds 0 1 2");
    CompanionProcess companion;
    QVERIFY(companion.isValid() && companion.installDaemon("#!/bin/sh\nexec sleep 600\n"));
    companion.start();
    QTRY_COMPARE_WITH_TIMEOUT(companion.daemonPids().size(), 1, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(inheritance(companion.daemonPids().first()), clean, waitMs);

    QByteArray secondStart;
    QCOMPARE(companion.runAnother(&secondStart), 0);
    QCOMPARE(secondStart, QByteArray());
    QCOMPARE(::kill(pid_t(companion.daemonPids().first()), SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(companion.daemonPids().size(), 2, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(inheritance(companion.daemonPids().last()), clean, waitMs);
    QVERIFY(companion.endWithSignal(SIGTERM, waitMs));
}

QTEST_GUILESS_MAIN(CompanionProcessTest)
#include "test_companion_process.moc"
