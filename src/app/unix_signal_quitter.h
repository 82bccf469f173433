#pragma once

#include <QObject>

class QSocketNotifier;

// Ends the program through the same orderly path as the quit command when
// SIGINT (Ctrl-C), SIGTERM or SIGHUP (end of the session) arrives: the
// handler only writes to a pipe, and the main loop calls
// QCoreApplication::quit(), so aboutToQuit stops polling and the daemon.
// SIGPIPE is caught too, so output to a closed pipe cannot kill the
// companion and leave the daemon running. One instance per process.
class UnixSignalQuitter : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalQuitter(QObject *parent = nullptr);
    ~UnixSignalQuitter() override;

private:
    void drainAndQuit();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
};
