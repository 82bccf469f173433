#include "platform/termination_signals.h"

#include "platform/posix_io.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace {

constexpr int watchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written only before the handlers are installed and after they are removed.
volatile sig_atomic_t wakeFd = -1;

extern "C" void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a pending termination; nothing is lost.
    (void)!::write(wakeFd, &byte, 1);
    errno = savedErrno;
}

void install(int signalNumber, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (!PosixIo::makePipe(m_pipe, PosixIo::Blocking::no))
        return;
    wakeFd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);
    for (int signalNumber : watchedSignals)
        install(signalNumber, onTerminationSignal);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (int signalNumber : watchedSignals)
        install(signalNumber, SIG_DFL);
    wakeFd = -1;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void TerminationSignals::drain()
{
    unsigned char received[16];
    ssize_t count;
    while ((count = ::read(m_pipe[0], received, sizeof received)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            emit this->received(received[i]);
    }
}

#include "moc_termination_signals.cpp"
