#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT (Ctrl-C), SIGTERM and SIGHUP (end of the session) into a Qt
// signal on the event loop, so a program ends through its orderly path: the
// handler only writes the signal's number to a pipe, which the loop watches.
// Used by the companion and the stand-in daemon; one instance per process.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe could not be made; the signals then keep their
    // default action.
    bool isWatching() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void drain();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
};
