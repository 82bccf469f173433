#include "app/app_delegate.h"
#include "app/single_instance.h"
#include "app/tornel_app.h"
#include "app/tray_status_item.h"
#include "app/unix_signal_quitter.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    TornelApp app(argc, argv);

    // Decided before anything starts, so a second start never launches a daemon.
    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::HandedOver:
        return 0;
    case SingleInstance::Claim::RunningButSilent:
        std::fprintf(stderr, "Tornel: %s\n", qPrintable(instance.errorString()));
        return 1;
    case SingleInstance::Claim::Unavailable:
        std::fprintf(stderr, "Tornel: cannot make sure only one Tornel runs: %s\n", qPrintable(instance.errorString()));
        break;
    case SingleInstance::Claim::Primary:
        break;
    }

    UnixSignalQuitter quitOnSignals;
    AppDelegate delegate([] { return std::make_unique<TrayStatusItem>(); });
    QObject::connect(&instance, &SingleInstance::openPanelRequested, &delegate, [&delegate] {
        if (PopoverHost *popover = delegate.popover())
            popover->open();
    });
    return app.run(delegate);
}
