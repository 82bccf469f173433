// Test helper: one start of the companion as far as the single-instance guard
// goes. Prints its claim and the socket path on one line; as the companion it
// then prints "open-panel" for each request, until its standard input closes.
// With the arguments "wait <fifo>", it claims only once the FIFO is opened for
// writing, so that a test can let several starts claim at the same moment.
#include "app/single_instance.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 2 && qstrcmp(argv[1], "wait") == 0) {
        // Opening a FIFO for reading blocks until someone opens it for writing,
        // which releases every probe waiting on it at once.
        say("waiting");
        const int gate = ::open(argv[2], O_RDONLY | O_CLOEXEC);
        if (gate < 0)
            return 4;
        ::close(gate);
    }
    SingleInstance instance;
    const SingleInstance::Claim claim = instance.claim();
    const QByteArray path = SingleInstance::socketPath().toUtf8();
    switch (claim) {
    case SingleInstance::Claim::HandedOver:
        say("handed-over " + path);
        return 0;
    case SingleInstance::Claim::RunningButSilent:
        say("running-but-silent " + path);
        return 3;
    case SingleInstance::Claim::Unavailable:
        say("unavailable " + instance.errorString().toUtf8());
        return 2;
    case SingleInstance::Claim::Primary:
        say("primary " + path);
        break;
    }

    QObject::connect(&instance, &SingleInstance::openPanelRequested, [] { say("open-panel"); });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&app] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    return app.exec();
}
