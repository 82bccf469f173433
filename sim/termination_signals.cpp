#include "termination_signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent) {}

TerminationSignals::~TerminationSignals()
{
    if (m_readFd < 0)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    m_notifier.reset();
    ::close(m_readFd);
    ::close(s_writeFd);
    s_writeFd = -1;
}

bool TerminationSignals::install()
{
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    m_readFd = fds[0];
    s_writeFd = fds[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_readFd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::drain);

    struct sigaction action {};
    action.sa_handler = &TerminationSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

void TerminationSignals::handle(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    (void)!::write(s_writeFd, &byte, 1);
    errno = savedErrno;
}

void TerminationSignals::drain()
{
    unsigned char bytes[16];
    const ssize_t n = ::read(m_readFd, bytes, sizeof(bytes));
    for (ssize_t i = 0; i < n; ++i)
        emit received(bytes[i]);
}
