#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// The built companion, run as a user would run it: a copy of the binary in a
// temporary HOME with a runtime directory of its own, PATH=/usr/bin:/bin, no
// session bus, no display, the offscreen platform.
class CompanionProcess {
public:
    CompanionProcess();
    ~CompanionProcess();

    bool isValid() const { return m_valid; }
    QString homePath(const QString &relative) const { return m_home.filePath(relative); }
    QString socketPath() const { return homePath(QStringLiteral(".tornel/daemon.sock")); }

    // Writes the daemon beside the copy, where the companion looks first.
    bool installDaemon(const QByteArray &script);
    // A daemon script that runs the shell lines `setup`, then the built stand-in daemon.
    bool installStandInDaemon(const QByteArray &setup = {});

    // Starts the copy, or starts it again once it has ended; `environment`
    // adds to or overrides the prepared one, for every later start too.
    void start(const QStringList &arguments = {}, const QProcessEnvironment &environment = {});
    QProcess &process() { return m_process; }
    // Another start in the same home; it ends with this object at the latest.
    QProcess &startAnother(const QStringList &arguments = {});
    // Another start, run to its end: its exit code, or -1 when it did not end
    // by itself within 15 s; `output` gets both of its channels.
    int runAnother(QByteArray *output = nullptr);
    // Another start with `arguments`, run to its end as above, its channels apart.
    struct Ended {
        int exitCode = -1;
        QByteArray output;
        QByteArray errors;
    };
    Ended runCommand(const QStringList &arguments);

    // Everything the first start wrote so far.
    QByteArray standardOutput();
    QByteArray standardError();
    // The PIDs in its "[daemon] Started (PID: N)" lines, in order.
    QList<qint64> daemonPids();

    // Sends `signal` and waits for the end; true when it ended by itself with 0.
    bool endWithSignal(int signal, int timeoutMs);

private:
    QTemporaryDir m_home;
    QString m_program;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    QProcess m_process;
    std::vector<std::unique_ptr<QProcess>> m_others;
    QByteArray m_stdout;
    QByteArray m_stderr;
    bool m_valid = false;
};
