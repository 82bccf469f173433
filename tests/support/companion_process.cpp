#include "companion_process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
}

CompanionProcess::~CompanionProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool CompanionProcess::installDaemon(const QByteArray &script, bool executable)
{
    QFile file(homePath(QStringLiteral(".tornel/bin/tornel-sync")));
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        return false;
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    return file.setPermissions(permissions);
}

void CompanionProcess::start(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcessEnvironment prepared = QProcessEnvironment::systemEnvironment();
    prepared.insert(QStringLiteral("HOME"), m_home.path());
    prepared.insert(QStringLiteral("XDG_RUNTIME_DIR"), homePath(QStringLiteral("runtime")));
    // The supervisor also searches PATH; keep it to system tools.
    prepared.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    // Neither the developer's desktop nor their session bus takes part.
    prepared.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + homePath(QStringLiteral("no-bus")));
    prepared.remove(QStringLiteral("DISPLAY"));
    prepared.remove(QStringLiteral("WAYLAND_DISPLAY"));
    prepared.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString &key : environment.keys())
        prepared.insert(key, environment.value(key));
    m_process.setProcessEnvironment(prepared);
    m_process.setWorkingDirectory(m_home.path());
    m_process.start(m_program, arguments);
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
