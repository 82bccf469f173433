#include "companion_process.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <csignal>

CompanionProcess::CompanionProcess()
{
    if (!m_home.isValid())
        return;
    QDir home(m_home.path());
    m_program = home.filePath(QStringLiteral("app/tornel"));
    m_valid = home.mkpath(QStringLiteral("app")) && home.mkpath(QStringLiteral(".tornel/bin")) &&
              home.mkpath(QStringLiteral("runtime")) &&
              QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                                    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
              QFile::copy(QStringLiteral(TORNEL_APP_PATH), m_program);
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("HOME"), m_home.path());
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), homePath(QStringLiteral("runtime")));
    // The supervisor also searches PATH; keep it to system tools.
    m_environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    // Neither the developer's desktop nor their session bus takes part.
    m_environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + homePath(QStringLiteral("no-bus")));
    m_environment.remove(QStringLiteral("DISPLAY"));
    m_environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
}

CompanionProcess::~CompanionProcess()
{
    const auto end = [](QProcess &process) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    };
    end(m_process);
    for (const auto &other : m_others)
        end(*other);
}

bool CompanionProcess::installDaemon(const QByteArray &script, bool executable)
{
    QFile file(homePath(QStringLiteral(".tornel/bin/tornel-sync")));
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        return false;
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | (executable ? QFile::ExeOwner : QFile::Permission()));
}

bool CompanionProcess::installStandInDaemon(const QByteArray &setup)
{
    return installDaemon("#!/bin/sh\n" + setup + "\nexec '" TORNEL_SIM_PATH "'\n");
}

void CompanionProcess::start(const QStringList &arguments, const QProcessEnvironment &environment)
{
    for (const QString &key : environment.keys())
        m_environment.insert(key, environment.value(key));
    m_process.setProcessEnvironment(m_environment);
    m_process.setWorkingDirectory(m_home.path());
    m_process.start(m_program, arguments);
}

QProcess &CompanionProcess::startAnother()
{
    auto &other = *m_others.emplace_back(std::make_unique<QProcess>());
    other.setProcessEnvironment(m_environment);
    other.setWorkingDirectory(m_home.path());
    other.start(m_program, {});
    return other;
}

int CompanionProcess::runAnother(QByteArray *output)
{
    QProcess &other = startAnother();
    const bool ended = other.waitForFinished(15000) && other.exitStatus() == QProcess::NormalExit;
    if (output)
        *output = other.readAllStandardOutput() + other.readAllStandardError();
    return ended ? other.exitCode() : -1;
}

QByteArray CompanionProcess::standardOutput()
{
    m_stdout += m_process.readAllStandardOutput();
    return m_stdout;
}

QByteArray CompanionProcess::standardError()
{
    m_stderr += m_process.readAllStandardError();
    return m_stderr;
}

QList<qint64> CompanionProcess::daemonPids()
{
    static const QRegularExpression started(QStringLiteral(R"(^\[daemon\] Started \(PID: (\d+)\)$)"),
                                            QRegularExpression::MultilineOption);
    QList<qint64> pids;
    for (const QRegularExpressionMatch &match : started.globalMatch(QString::fromUtf8(standardOutput())))
        pids.append(match.captured(1).toLongLong());
    return pids;
}

bool CompanionProcess::endWithSignal(int signal, int timeoutMs)
{
    if (m_process.state() != QProcess::Running || ::kill(pid_t(m_process.processId()), signal) != 0)
        return false;
    if (!m_process.waitForFinished(timeoutMs))
        return false;
    standardOutput();
    standardError();
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}
