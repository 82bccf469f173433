// tornel-sync: a stand-in sync daemon, so the companion can be run and tested
// on a machine without the real one. See README.md.
#include "platform/termination_signals.h"
#include "fault_injector.h"
#include "request_handler.h"
#include "sim_config.h"
#include "sim_log.h"
#include "simulated_account.h"
#include "socket_server.h"

#include <QCoreApplication>
#include <QDir>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    QString problem;
    const std::optional<SimConfig> config = SimConfig::fromEnvironment(problem);
    if (!config) {
        simError(u"tornel-sync: "_s + problem);
        return 2;
    }

    TerminationSignals termination;
    if (!termination.isWatching()) {
        simError(u"tornel-sync: cannot watch for termination signals"_s);
        return 1;
    }

    SimulatedAccount account(config->tickMs, config->changesMs);
    RequestHandler handler(account);
    FaultInjector faults(*config, handler);
    SocketServer server([&faults](const QByteArray &line, quint64 connection) { return faults.deliver(line, connection); });

    const QString socketPath = QDir::homePath() + u"/.tornel/daemon.sock"_s;
    if (const auto failure = server.listen(socketPath)) {
        simError(u"tornel-sync: "_s + *failure);
        return 1;
    }
    QObject::connect(&termination, &TerminationSignals::received, &app, [&server](int signalNumber) {
        server.close();
        simLog(u"Received signal %1; socket removed, exiting"_s.arg(signalNumber));
        QCoreApplication::quit();
    });

    simLog(u"Listening on %1 (logged out)"_s.arg(socketPath));
    faults.start();
    return app.exec();
}
