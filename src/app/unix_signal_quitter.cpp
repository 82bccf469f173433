#include "app/unix_signal_quitter.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int quitSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written only before the handlers are installed and after they are removed.
volatile sig_atomic_t wakeFd = -1;

extern "C" void onQuitSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a pending quit; nothing is lost.
    (void)!::write(wakeFd, &byte, 1);
    errno = savedErrno;
}

// Caught rather than ignored: an ignored SIGPIPE would be inherited by the
// daemon through exec, a caught one is reset to the default there.
extern "C" void onBrokenPipe(int) {}

void install(int signal, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

} // namespace

UnixSignalQuitter::UnixSignalQuitter(QObject *parent) : QObject(parent)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("Tornel: cannot watch for termination signals");
        return;
    }
    wakeFd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalQuitter::drainAndQuit);
    for (int signal : quitSignals)
        install(signal, onQuitSignal);
    install(SIGPIPE, onBrokenPipe);
}

UnixSignalQuitter::~UnixSignalQuitter()
{
    if (m_pipe[0] < 0)
        return;
    for (int signal : quitSignals)
        install(signal, SIG_DFL);
    install(SIGPIPE, SIG_DFL);
    wakeFd = -1;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void UnixSignalQuitter::drainAndQuit()
{
    char buffer[64];
    while (::read(m_pipe[0], buffer, sizeof buffer) > 0) {
    }
    QCoreApplication::quit();
}
