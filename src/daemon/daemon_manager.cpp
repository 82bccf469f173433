#include "daemon/daemon_manager.h"

#include "daemon/child_process.h"
#include "daemon/daemon_log.h"
#include "daemon/output_reader.h"
#include "daemon/standard_output.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>
#include <cmath>
#include <mutex>
#include <utility>

#include <signal.h>
#include <unistd.h>

namespace {

const QString executableName = QStringLiteral("tornel-sync");

// How long the supervisor lets the output reach its end after the daemon
// exited; beyond that, a process the daemon left behind holds the pipe open.
constexpr std::chrono::seconds outputDrainGrace{1};

QString describeFailure(const QString &subject, std::error_code error)
{
    return QStringLiteral("[daemon] Failed to start: %1: %2 (errno %3)")
        .arg(subject, QString::fromStdString(error.message()))
        .arg(error.value());
}

// Only absolute entries count: an empty or relative entry of PATH would run
// whatever file of that name sits in the folder the companion started in.
QString executableOnPath()
{
    QStringList directories;
    for (const QString &entry : QString::fromLocal8Bit(qgetenv("PATH")).split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(entry))
            directories.append(entry);
    }
    // findExecutable searches all of PATH when given no directories.
    if (directories.isEmpty())
        return {};
    return QStandardPaths::findExecutable(executableName, directories);
}

} // namespace

std::optional<RestartPolicy::Seconds> RestartPolicy::restartDelay(TimePoint now)
{
    if (!m_lastRestartTime || Seconds(now - *m_lastRestartTime) > window)
        m_restartCount = 0;
    else if (m_restartCount >= maxRestartsPerMinute)
        return std::nullopt;
    ++m_restartCount;
    m_lastRestartTime = now;
    return Seconds(std::exp2(double(m_restartCount - 1)));
}

struct DaemonManager::Shared {
    OutputSink sink;
    SteadyClock clock;
    std::mutex mutex;
    DaemonManager *owner = nullptr; // guarded by `mutex`; cleared as the manager goes
    RestartPolicy restartPolicy;    // guarded by `mutex`
    QStringList recentOutput;       // guarded by `mutex`

    void keepOutputLine(const QString &line)
    {
        std::lock_guard lock(mutex);
        if (recentOutput.size() == DaemonManager::recentOutputLines)
            recentOutput.removeFirst();
        recentOutput.append(line);
    }

    void print(const QString &line) const { sink((line + u'\n').toUtf8()); }

    // Runs `task` on the manager's thread, unless the manager is gone by then.
    void postToOwner(std::function<void(DaemonManager &)> task)
    {
        std::lock_guard lock(mutex);
        if (!owner)
            return;
        // Events queued for an object are discarded when it is destroyed.
        QMetaObject::invokeMethod(
            owner, [manager = owner, task = std::move(task)] { task(*manager); }, Qt::QueuedConnection);
    }
};

struct DaemonManager::Session {
    std::unique_ptr<ChildProcess> process;
    std::atomic<bool> stopRequested{false};
};

DaemonManager::DaemonManager(QObject *parent)
    : DaemonManager(
          [log = std::make_shared<DaemonLog>(DaemonLog::defaultPath())](const QByteArray &message) {
              StandardOutput::write(message);
              log->append(message);
          },
          [] { return std::chrono::steady_clock::now(); }, parent)
{
}

DaemonManager::DaemonManager(OutputSink sink, SteadyClock clock, QObject *parent)
    : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->sink = std::move(sink);
    m_shared->clock = std::move(clock);
    m_shared->owner = this;
    m_relaunchTimer.setSingleShot(true);
    m_relaunchTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_relaunchTimer, &QTimer::timeout, this, [this] { start(); });
}

DaemonManager::~DaemonManager()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->owner = nullptr;
    }
    stop();
}

void DaemonManager::start(std::function<void()> onReady)
{
    if (m_session && !m_session->process->hasExited()) {
        if (onReady)
            onReady();
        return;
    }
    retireSession();

    const QString path = daemonPath();
    if (path.isEmpty()) {
        m_shared->print(describeFailure(
            executableName + QStringLiteral(" (looked beside the companion, in /usr/local/bin, ~/.tornel/bin, "
                                            "~/go/bin and on PATH)"),
            std::make_error_code(std::errc::no_such_file_or_directory)));
        holdUntilLaunched(std::move(onReady));
        emit daemonNotFound(searchedDirectories());
        return;
    }
    ChildProcess::LaunchResult launched = ChildProcess::launch(path);
    if (const auto *error = std::get_if<std::error_code>(&launched)) {
        m_shared->print(describeFailure(path, *error));
        holdUntilLaunched(std::move(onReady));
        emit launchFailed(path, QString::fromStdString(error->message()));
        return;
    }

    auto session = std::make_shared<Session>();
    session->process = std::move(std::get<std::unique_ptr<ChildProcess>>(launched));
    m_shared->print(QStringLiteral("[daemon] Started (PID: %1)").arg(session->process->pid()));
    m_session = session;
    m_supervisor = std::thread(&DaemonManager::supervise, m_shared, std::move(session));
    setNeedsRestart(false);
    emit daemonLaunched();

    // The ready callback of a launch that failed, unless this launch brought its own.
    std::function<void()> held = std::exchange(m_heldOnReady, {});
    if (!onReady)
        onReady = std::move(held);
    if (onReady)
        QTimer::singleShot(readyDelay, this, std::move(onReady));
}

void DaemonManager::restart()
{
    m_relaunchTimer.stop();
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->restartPolicy = RestartPolicy();
    }
    start();
}

void DaemonManager::holdUntilLaunched(std::function<void()> onReady)
{
    if (onReady)
        m_heldOnReady = std::move(onReady);
    setNeedsRestart(true);
}

void DaemonManager::setNeedsRestart(bool needsRestart)
{
    if (std::exchange(m_needsRestart, needsRestart) != needsRestart)
        emit needsRestartChanged(needsRestart);
}

QStringList DaemonManager::recentOutput() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->recentOutput;
}

void DaemonManager::stop()
{
    m_relaunchTimer.stop();
    if (!m_session)
        return;
    m_session->stopRequested = true;
    ChildProcess &process = *m_session->process;
    const bool wasRunning = !process.hasExited();
    if (wasRunning) {
        process.signal(SIGTERM);
        if (!process.waitUntilExited(stopGrace))
            process.signal(SIGKILL);
    }
    // The supervisor returns once the child has exited and its lines are out.
    retireSession();
    if (wasRunning)
        m_shared->print(QStringLiteral("[daemon] Stopped"));
}

QStringList DaemonManager::searchedDirectories()
{
    const QString home = QDir::homePath();
    return {QCoreApplication::applicationDirPath(), QStringLiteral("/usr/local/bin"),
            home + QStringLiteral("/.tornel/bin"), home + QStringLiteral("/go/bin")};
}

QString DaemonManager::daemonPath() const
{
    for (const QString &directory : searchedDirectories()) {
        const QString candidate = directory + u'/' + executableName;
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return executableOnPath();
}

void DaemonManager::supervise(std::shared_ptr<Shared> shared, std::shared_ptr<Session> session)
{
    // One thread reads the output and notices the exit, by polling the pipe
    // and the process's exit descriptor together.
    ChildProcess &process = *session->process;
    OutputReader reader(process.outputFd(), [&shared](const QString &line) {
        shared->keepOutputLine(line);
        shared->print(QStringLiteral("[daemon] ") + line);
    });
    reader.readUntilReadable(process.exitFd());
    const int status = process.waitForExit();
    // The daemon's last words come before the line about its exit.
    reader.finish(outputDrainGrace);
    shared->print(QStringLiteral("[daemon] Process exited with status %1").arg(status));
    if (session->stopRequested)
        return;
    if (status == 0) {
        // Not restarted, but not to be left unsaid either.
        shared->postToOwner([](DaemonManager &manager) {
            manager.setNeedsRestart(true);
            emit manager.daemonEnded();
        });
        return;
    }

    std::optional<RestartPolicy::Seconds> delay;
    qint64 attempt = 0;
    {
        std::lock_guard lock(shared->mutex);
        delay = shared->restartPolicy.restartDelay(shared->clock());
        attempt = shared->restartPolicy.restartCount();
    }
    if (!delay) {
        shared->print(QStringLiteral("[daemon] Too many restarts, giving up"));
        shared->postToOwner([](DaemonManager &manager) {
            manager.setNeedsRestart(true);
            emit manager.gaveUp();
        });
        return;
    }
    shared->print(QStringLiteral("[daemon] Restarting in %1s (attempt %2/%3)")
                      .arg(QString::number(delay->count(), 'f', 1))
                      .arg(attempt)
                      .arg(RestartPolicy::maxRestartsPerMinute));
    const auto delayMs = std::chrono::duration_cast<std::chrono::milliseconds>(*delay);
    shared->postToOwner([failed = std::weak_ptr<Session>(session), delayMs](DaemonManager &manager) {
        manager.relaunchLater(failed, delayMs);
    });
}

void DaemonManager::relaunchLater(const std::weak_ptr<Session> &failed, std::chrono::milliseconds delay)
{
    // A stop, or another launch, since the failure makes this relaunch moot.
    const std::shared_ptr<Session> session = failed.lock();
    if (!session || session != m_session || session->stopRequested)
        return;
    m_relaunchTimer.start(delay);
}

void DaemonManager::retireSession()
{
    // The previous child has ended; its supervisor is at most finishing its lines.
    if (m_supervisor.joinable())
        m_supervisor.join();
    m_session.reset();
}

#include "moc_daemon_manager.cpp"
