#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The built companion, run as a user would run it: a copy of the binary
// outside the build tree (the stand-in daemon sits beside the built one and
// would be found first) with a temporary HOME whose ~/.tornel/bin/tornel-sync
// the test provides.
class CompanionProcess {
public:
    CompanionProcess();
    ~CompanionProcess();

    bool isValid() const { return m_valid; }
    QString homePath(const QString &relative) const { return m_home.filePath(relative); }
    QString socketPath() const { return homePath(QStringLiteral(".tornel/daemon.sock")); }

    // Writes ~/.tornel/bin/tornel-sync.
    bool installDaemon(const QByteArray &script, bool executable = true);

    // Starts the copy with `arguments`; `environment` adds to or overrides
    // the prepared one (HOME, a bus that does not exist, no display).
    void start(const QStringList &arguments, const QProcessEnvironment &environment = {});
    qint64 processId() const { return m_process.processId(); }

    // Everything written so far.
    QByteArray standardOutput();
    QByteArray standardError();

    // Sends `signal` and waits for the end; true when it ended by itself with 0.
    bool endWithSignal(int signal, int timeoutMs);

private:
    QTemporaryDir m_home;
    QString m_program;
    QProcess m_process;
    QByteArray m_stdout;
    QByteArray m_stderr;
    bool m_valid = false;
};
