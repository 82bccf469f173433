#include "app/app_delegate.h"
#include "daemon/standard_output.h"
#include "app/remote_command.h"
#include "app/single_instance.h"
#include "app/tornel_app.h"
#include "platform/termination_signals.h"
#include "tray/app_activation.h"
#include "tray/popover_host.h"
#include "tray/tray_status_item.h"

#include <QLoggingCategory>

#include <csignal>

#include <fcntl.h>

namespace {

Q_LOGGING_CATEGORY(lcApp, "tornel.app")

// A launcher may start us with standard input, output or error closed. The
// next descriptor opened (the X server's connection, a socket) would then
// take that number, and our output would be written into it.
void keepStandardDescriptorsTaken()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd)
            return; // nothing sensible left to do; the lowest free number was not fd
    }
}

// How long the last lines may take to reach a slow reader of standard output at the end.
constexpr std::chrono::seconds lastOutputGrace{1};

} // namespace

int main(int argc, char *argv[])
{
    keepStandardDescriptorsTaken();
    // "tornel.tray: waiting for a system tray ...": the category names the
    // part that speaks, and is what QT_LOGGING_RULES filters by.
    qSetMessagePattern(QStringLiteral("%{if-category}%{category}: %{endif}%{message}"));
    if (const std::optional<int> answered = TornelApp::answerWithoutGui(argc, argv))
        return *answered;
    TornelApp app(argc, argv);
    if (!app.acceptsCommandLine())
        return 1;
    // Output to a closed terminal must not end the companion and leave the
    // daemon running. The daemon gets the default action back before exec.
    std::signal(SIGPIPE, SIG_IGN);

    // Decided before anything starts, so a second start never launches a daemon.
    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::HandedOver:
        return 0;
    case SingleInstance::Claim::RunningButSilent:
        qCWarning(lcApp, "%s", qPrintable(instance.errorString()));
        return 1;
    case SingleInstance::Claim::Unavailable:
        qCWarning(lcApp, "cannot make sure only one Tornel runs: %s", qPrintable(instance.errorString()));
        break;
    case SingleInstance::Claim::Primary:
        break;
    }

    AppActivation::hideFromDock();

    // Ctrl-C, SIGTERM and the end of the session take the path of "Quit Tornel".
    TerminationSignals termination;
    if (!termination.isWatching())
        qCWarning(lcApp, "cannot watch for termination signals");
    QObject::connect(&termination, &TerminationSignals::received, &app, [] { QCoreApplication::quit(); });

    AppDelegate delegate([] { return std::make_unique<TrayStatusItem>(); });
    QObject::connect(&instance, &SingleInstance::openPanelRequested, &delegate, [&delegate] {
        if (PopoverHost *popover = delegate.popover())
            popover->open();
    });
    QObject::connect(&instance, &SingleInstance::requested, &delegate,
                     [&delegate](const QByteArray &request, const SingleInstance::Reply &reply) {
                         RemoteCommand::answer(delegate.syncState(), request, reply);
                     });
    const int status = app.run(delegate);
    StandardOutput::flush(lastOutputGrace);
    return status;
}
