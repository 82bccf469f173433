// One companion per session, with starts of the built companion in one home:
// a later start hands over and ends, a socket left by a crash is replaced,
// simultaneous starts elect one, a holder that does not answer is left
// alone, and without a runtime directory a private fallback serves.
#include "companion_process.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLockFile>
#include <QTest>

#include <csignal>
#include <memory>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int waitMs = 15000;

QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void laterStartHandsOverAndNothingIsLeft_data();
    void laterStartHandsOverAndNothingIsLeft();
    void unsafeFallbackIsNotUsed();
    void socketOfACrashedCompanionIsReplaced();
    void simultaneousStartsElectOne();
    void startWaitsWhileAnotherStartDecides();
    void silentHolderIsNeitherJoinedNorReplaced();

private:
    QString runtime() const { return m_companion->homePath(QStringLiteral("runtime")); }
    // Qt's private runtime directory when XDG_RUNTIME_DIR is unset and TMPDIR is runtime().
    QProcessEnvironment withoutRuntimeDirectory() const;
    QString fallback() const { return runtime() + QStringLiteral("/runtime-") + QString::fromLocal8Bit(getpwuid(geteuid())->pw_name); }
    // The companion of the first start launched its daemon.
    bool companionRuns() { return m_companion->daemonPids().size() == 1; }

    std::unique_ptr<CompanionProcess> m_companion;
};

void SingleInstanceTest::initTestCase()
{
    if (QFileInfo::exists(QStringLiteral("/usr/local/bin/tornel-sync")))
        QSKIP("a tornel-sync in /usr/local/bin would be launched instead of the test's daemon");
}

void SingleInstanceTest::init()
{
    m_companion = std::make_unique<CompanionProcess>();
    QVERIFY(m_companion->isValid() && m_companion->installDaemon("#!/bin/sh\nexec sleep 600\n"));
}

QProcessEnvironment SingleInstanceTest::withoutRuntimeDirectory() const
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString());
    environment.insert(QStringLiteral("TMPDIR"), runtime());
    return environment;
}

void SingleInstanceTest::laterStartHandsOverAndNothingIsLeft_data()
{
    QTest::addColumn<bool>("withRuntimeDirectory");
    QTest::newRow("runtime directory") << true;
    QTest::newRow("private fallback under TMPDIR") << false;
}

void SingleInstanceTest::laterStartHandsOverAndNothingIsLeft()
{
    QFETCH(bool, withRuntimeDirectory);
    QString directory = runtime();
    if (!withRuntimeDirectory) {
        m_companion->start({}, withoutRuntimeDirectory());
        directory = fallback();
    } else {
        m_companion->start();
    }
    QTRY_VERIFY_WITH_TIMEOUT(companionRuns(), waitMs);
    QCOMPARE(entriesOf(directory), QStringList{QStringLiteral("tornel.sock")});
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(directory).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0700));

    for (int start = 0; start < 2; ++start) {
        QByteArray output;
        QCOMPARE(m_companion->runAnother(&output), 0);
        QVERIFY2(!output.contains("[daemon]"), output.constData());
    }
    QVERIFY(m_companion->endWithSignal(SIGTERM, waitMs));
    QCOMPARE(m_companion->daemonPids().size(), 1);
    QCOMPARE(entriesOf(directory), QStringList());
}

void SingleInstanceTest::unsafeFallbackIsNotUsed()
{
    // Someone made the fallback readable to others: the companion runs unguarded.
    QVERIFY(QDir().mkdir(fallback()));
    QVERIFY(QFile::setPermissions(fallback(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    m_companion->start({}, withoutRuntimeDirectory());
    QTRY_VERIFY_WITH_TIMEOUT(companionRuns(), waitMs);
    QVERIFY(m_companion->standardError().contains("Tornel: cannot make sure only one Tornel runs: "));
    QCOMPARE(entriesOf(fallback()), QStringList());
}

void SingleInstanceTest::socketOfACrashedCompanionIsReplaced()
{
    m_companion->start();
    QTRY_VERIFY_WITH_TIMEOUT(companionRuns(), waitMs);
    m_companion->process().kill();
    QVERIFY(m_companion->process().waitForFinished(waitMs));
    QVERIFY(QFileInfo::exists(runtime() + QStringLiteral("/tornel.sock")));

    m_companion->start();
    QTRY_COMPARE_WITH_TIMEOUT(m_companion->daemonPids().size(), 2, waitMs);
    QCOMPARE(m_companion->runAnother(), 0);
}

void SingleInstanceTest::simultaneousStartsElectOne()
{
    QList<QProcess *> starts;
    for (int i = 0; i < 4; ++i)
        starts.append(&m_companion->startAnother());
    QTRY_COMPARE_WITH_TIMEOUT(std::count_if(starts.begin(), starts.end(), [](QProcess *start) {
                                  return start->state() == QProcess::NotRunning && start->exitCode() == 0;
                              }), 3, waitMs);
    QProcess *companion = *std::find_if(starts.begin(), starts.end(), [](QProcess *start) { return start->state() == QProcess::Running; });
    QByteArray output;
    QTRY_VERIFY2_WITH_TIMEOUT((output += companion->readAllStandardOutput()).startsWith("[daemon] Started (PID: "), output.constData(), waitMs);
    for (QProcess *start : starts) {
        if (start != companion)
            QCOMPARE(start->readAllStandardOutput(), QByteArray());
    }
}

void SingleInstanceTest::startWaitsWhileAnotherStartDecides()
{
    // The window between finding no one and listening is too short to hit
    // from outside, so the test plays the start that is deciding. Absence
    // can only be waited for with a time limit.
    QLockFile deciding(runtime() + QStringLiteral("/tornel.lock"));
    QVERIFY(deciding.lock());
    m_companion->start();
    QTest::qWait(1500);
    QVERIFY(!companionRuns());
    deciding.unlock();
    QTRY_VERIFY_WITH_TIMEOUT(companionRuns(), waitMs);
}

void SingleInstanceTest::silentHolderIsNeitherJoinedNorReplaced()
{
    // The test's event loop does not run while the start works, so the
    // holder accepts the connection in the kernel and never answers.
    QLocalServer holder;
    QVERIFY(holder.listen(runtime() + QStringLiteral("/tornel.sock")));
    QByteArray output;
    QCOMPARE(m_companion->runAnother(&output), 1);
    QCOMPARE(output, "Tornel: Tornel is already running but does not answer at " + holder.fullServerName().toUtf8() + '\n');
    QVERIFY(holder.waitForNewConnection(waitMs));
    QVERIFY(QFileInfo::exists(holder.fullServerName()));
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "test_single_instance.moc"
