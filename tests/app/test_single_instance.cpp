// One companion per session, checked with real processes: each start is a
// single_instance_probe process with its own runtime directory.
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int waitMs = 15000;

class Probe {
public:
    explicit Probe(const QProcessEnvironment &environment, const QStringList &arguments = {})
    {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(SINGLE_INSTANCE_PROBE_PATH), arguments);
    }
    ~Probe()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(waitMs);
        }
    }

    // The next line the probe prints, without its line feed; the first is
    // "<claim> <socket path or error>". Empty after a timeout or an exit.
    QByteArray nextLine()
    {
        const QDeadlineTimer deadline(waitMs);
        while (m_output.indexOf('\n', m_consumed) < 0 && !deadline.hasExpired()) {
            const bool more = m_process.waitForReadyRead(int(deadline.remainingTime()));
            m_output += m_process.readAllStandardOutput();
            if (!more && m_process.state() == QProcess::NotRunning)
                break;
        }
        const qsizetype end = m_output.indexOf('\n', m_consumed);
        if (end < 0)
            return {};
        const QByteArray line = m_output.mid(m_consumed, end - m_consumed);
        m_consumed = end + 1;
        return line;
    }

    int panelRequests()
    {
        m_output += m_process.readAllStandardOutput();
        const QList<QByteArray> lines = m_output.split('\n');
        return int(std::count(lines.begin(), lines.end(), QByteArrayLiteral("open-panel")));
    }

    // Ends the probe the way the companion ends when asked to quit.
    bool quit()
    {
        m_process.closeWriteChannel();
        return exits();
    }
    bool exits() { return m_process.waitForFinished(waitMs) && m_process.exitStatus() == QProcess::NormalExit; }
    int exitCode() const { return m_process.exitCode(); }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_output;
    qsizetype m_consumed = 0;
};

QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void init();

    void laterStartsOpenTheRunningPanelAndExit();
    void companionLeavesNothingBehind();
    void socketOfACrashedCompanionIsReplaced();
    void simultaneousStartsElectOneCompanion();
    void startWaitsWhileAnotherStartDecides();
    void silentHolderIsNeitherJoinedNorReplaced();
    void withoutRuntimeDirectoryUsesPrivateTemporaryOne();
    void unsafeFallbackDirectoryIsNotUsed();

private:
    QString socketPath() const { return m_runtime->path() + QStringLiteral("/tornel.sock"); }
    QProcessEnvironment environmentWithoutRuntimeDirectory() const;

    std::unique_ptr<QTemporaryDir> m_runtime;
    QProcessEnvironment m_environment;
};

void TestSingleInstance::init()
{
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtime->isValid());
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
}

QProcessEnvironment TestSingleInstance::environmentWithoutRuntimeDirectory() const
{
    QProcessEnvironment environment = m_environment;
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("TMPDIR"), m_runtime->path());
    return environment;
}

void TestSingleInstance::laterStartsOpenTheRunningPanelAndExit()
{
    Probe first(m_environment);
    QCOMPARE(first.nextLine(), "primary " + socketPath().toUtf8());
    for (int start = 1; start <= 2; ++start) {
        Probe later(m_environment);
        QCOMPARE(later.nextLine(), "handed-over " + socketPath().toUtf8());
        QVERIFY(later.exits());
        QCOMPARE(later.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(first.panelRequests(), start, waitMs);
    }
    QCOMPARE(first.process().state(), QProcess::Running);
}

void TestSingleInstance::companionLeavesNothingBehind()
{
    Probe first(m_environment);
    QCOMPARE(first.nextLine(), "primary " + socketPath().toUtf8());
    QCOMPARE(entriesOf(m_runtime->path()), QStringList{QStringLiteral("tornel.sock")});
    QVERIFY(first.quit());
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(entriesOf(m_runtime->path()), QStringList());
}

void TestSingleInstance::socketOfACrashedCompanionIsReplaced()
{
    {
        Probe crashed(m_environment);
        QCOMPARE(crashed.nextLine(), "primary " + socketPath().toUtf8());
        crashed.process().kill();
        QVERIFY(crashed.process().waitForFinished(waitMs));
    }
    QVERIFY(QFileInfo::exists(socketPath()));

    Probe next(m_environment);
    QCOMPARE(next.nextLine(), "primary " + socketPath().toUtf8());
    Probe later(m_environment);
    QCOMPARE(later.nextLine(), "handed-over " + socketPath().toUtf8());
    QTRY_COMPARE_WITH_TIMEOUT(next.panelRequests(), 1, waitMs);
}

void TestSingleInstance::simultaneousStartsElectOneCompanion()
{
    constexpr int starts = 4;
    QTemporaryDir gateDirectory;
    const QByteArray gate = QFile::encodeName(gateDirectory.filePath(QStringLiteral("gate")));
    QCOMPARE(::mkfifo(gate.constData(), 0600), 0);

    std::vector<std::unique_ptr<Probe>> probes;
    for (int i = 0; i < starts; ++i)
        probes.push_back(std::make_unique<Probe>(m_environment, QStringList{QStringLiteral("wait"), QFile::decodeName(gate)}));
    for (const auto &probe : probes)
        QCOMPARE(probe->nextLine(), "waiting");
    // One open for writing releases all starts together; it stays open so
    // that a start not yet blocked on the FIFO passes it too.
    const int opened = ::open(gate.constData(), O_WRONLY | O_CLOEXEC);
    QVERIFY(opened >= 0);
    const auto closeGate = qScopeGuard([opened] { ::close(opened); });

    Probe *companion = nullptr;
    int handedOver = 0;
    for (const auto &probe : probes) {
        const QByteArray line = probe->nextLine();
        if (line == "primary " + socketPath().toUtf8()) {
            QVERIFY2(!companion, "two companions");
            companion = probe.get();
        } else {
            QCOMPARE(line, "handed-over " + socketPath().toUtf8());
            ++handedOver;
        }
    }
    QVERIFY(companion);
    QCOMPARE(handedOver, starts - 1);
    QTRY_COMPARE_WITH_TIMEOUT(companion->panelRequests(), starts - 1, waitMs);
}

void TestSingleInstance::startWaitsWhileAnotherStartDecides()
{
    // The window between finding no one and listening is too short to hit
    // from outside, so this test plays the start that is deciding. Absence of
    // output can only be waited for with a time limit.
    QLockFile deciding(m_runtime->filePath(QStringLiteral("tornel.lock")));
    QVERIFY(deciding.lock());
    Probe start(m_environment);
    QVERIFY(start.process().waitForStarted(waitMs));
    QVERIFY(!start.process().waitForReadyRead(500));
    deciding.unlock();
    QCOMPARE(start.nextLine(), "primary " + socketPath().toUtf8());
}

void TestSingleInstance::silentHolderIsNeitherJoinedNorReplaced()
{
    // This test's event loop does not run while the probe works, so the
    // holder accepts the connection in the kernel and never answers.
    QLocalServer holder;
    QVERIFY(holder.listen(socketPath()));

    Probe later(m_environment);
    QCOMPARE(later.nextLine(), "running-but-silent " + socketPath().toUtf8());
    QVERIFY(later.exits());
    QCOMPARE(later.exitCode(), 3);
    QVERIFY(holder.waitForNewConnection(waitMs));
    QVERIFY(QFileInfo::exists(socketPath()));
}

void TestSingleInstance::withoutRuntimeDirectoryUsesPrivateTemporaryOne()
{
    const QString fallback = m_runtime->path() + QStringLiteral("/runtime-") + QString::fromLocal8Bit(getpwuid(geteuid())->pw_name);
    const QByteArray path = (fallback + QStringLiteral("/tornel.sock")).toUtf8();

    Probe first(environmentWithoutRuntimeDirectory());
    QCOMPARE(first.nextLine(), "primary " + path);
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(fallback).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0700));

    Probe later(environmentWithoutRuntimeDirectory());
    QCOMPARE(later.nextLine(), "handed-over " + path);
    QTRY_COMPARE_WITH_TIMEOUT(first.panelRequests(), 1, waitMs);
}

void TestSingleInstance::unsafeFallbackDirectoryIsNotUsed()
{
    // Someone could have made the fallback directory readable to others.
    const QString fallback = m_runtime->path() + QStringLiteral("/runtime-") + QString::fromLocal8Bit(getpwuid(geteuid())->pw_name);
    QVERIFY(QDir().mkdir(fallback));
    QVERIFY(QFile::setPermissions(fallback, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));

    Probe start(environmentWithoutRuntimeDirectory());
    QVERIFY(start.nextLine().startsWith("unavailable "));
    QVERIFY(start.exits());
    QCOMPARE(start.exitCode(), 2);
    QCOMPARE(entriesOf(fallback), QStringList());
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
