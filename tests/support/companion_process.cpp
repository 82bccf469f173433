#include "companion_process.h"

#include <QDir>
#include <QRegularExpression>

#include <csignal>

CompanionProcess::CompanionProcess()
{
    const QDir home(m_home.path());
    m_program = home.filePath(QStringLiteral("app/tornel"));
    m_valid = m_home.isValid() && home.mkpath(QStringLiteral("app")) && home.mkpath(QStringLiteral(".tornel")) &&
              home.mkpath(QStringLiteral("runtime")) &&
              QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                                    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
              QFile::copy(QStringLiteral(TORNEL_APP_PATH), m_program);
    m_environment.insert(QStringLiteral("HOME"), m_home.path());
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), homePath(QStringLiteral("runtime")));
    m_environment.remove(QStringLiteral("XDG_STATE_HOME"));
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
    m_process.kill();
    m_process.waitForFinished(5000);
    for (const auto &other : m_others) {
        other->kill();
        other->waitForFinished(5000);
    }
}

bool CompanionProcess::installDaemon(const QByteArray &script)
{
    QFile file(homePath(QStringLiteral("app/tornel-sync")));
    return file.open(QIODevice::WriteOnly) && file.write(script) == script.size() &&
           file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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

QProcess &CompanionProcess::startAnother(const QStringList &arguments)
{
    QProcess &other = *m_others.emplace_back(std::make_unique<QProcess>());
    other.setProcessEnvironment(m_environment);
    other.setWorkingDirectory(m_home.path());
    other.start(m_program, arguments);
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

CompanionProcess::Ended CompanionProcess::runCommand(const QStringList &arguments)
{
    QProcess &other = startAnother(arguments);
    const bool ended = other.waitForFinished(15000) && other.exitStatus() == QProcess::NormalExit;
    return {ended ? other.exitCode() : -1, other.readAllStandardOutput(), other.readAllStandardError()};
}

QByteArray CompanionProcess::standardOutput()
{
    return m_stdout += m_process.readAllStandardOutput();
}

QByteArray CompanionProcess::standardError()
{
    return m_stderr += m_process.readAllStandardError();
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
    const bool ended = m_process.state() == QProcess::Running && ::kill(pid_t(m_process.processId()), signal) == 0 &&
                       m_process.waitForFinished(timeoutMs);
    standardOutput();
    standardError();
    return ended && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}
