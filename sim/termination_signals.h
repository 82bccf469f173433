#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Turns SIGTERM and SIGINT into a signal on the event loop: the handler only
// writes the signal's number to a pipe, which the loop watches.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // False when the pipe or the handlers cannot be set up.
    bool install();

signals:
    void received(int signalNumber);

private:
    static void handle(int signalNumber);
    void drain();

    static inline int s_writeFd = -1;
    int m_readFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
