#include "app/app_delegate.h"
#include "app/single_instance.h"
#include "app/tornel_app.h"
#include "platform/termination_signals.h"
#include "tray/app_activation.h"
#include "tray/popover_host.h"
#include "tray/tray_status_item.h"

#include <QLoggingCategory>

#include <csignal>

namespace {

Q_LOGGING_CATEGORY(lcApp, "tornel.app")

} // namespace

int main(int argc, char *argv[])
{
    // "tornel.tray: waiting for a system tray ...": the category names the
    // part that speaks, and is what QT_LOGGING_RULES filters by.
    qSetMessagePattern(QStringLiteral("%{if-category}%{category}: %{endif}%{message}"));
    if (const std::optional<int> answered = TornelApp::answerInformationalOptions(argc, argv))
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
    return app.run(delegate);
}
