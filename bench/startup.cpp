// Start-up: from exec of the companion to its first status request, which
// this program answers itself; the icon is redrawn as soon as that answer
// is applied on the main thread. Also shown: exec to the daemon's launch.
//
// Each round runs a copy of the companion from a scratch directory with a
// stand-in `tornel-sync` beside it that only sleeps, so the socket is this
// program's. Usage: bench_startup [rounds = 10]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QByteArray statusAnswer =
    R"({"jsonrpc":"2.0","id":1,"result":{"state":"synced","pendingUploads":0,"pendingDownloads":0,)"
    R"("syncFolder":"~/Tornel","serverUrl":"https://sync.example.org"}})"
    "\n";

int listenAt(const QString &path)
{
    const QByteArray bytes = path.toUtf8();
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0 || ::listen(fd, 8) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    return fd;
}

// Reads one request line; true when it asked for "status".
bool serveStatus(int listenFd)
{
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return false;
    QByteArray request;
    char buffer[4096];
    while (!request.contains('\n')) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        request.append(buffer, n);
    }
    (void)!::send(fd, statusAnswer.constData(), size_t(statusAnswer.size()), MSG_NOSIGNAL);
    ::close(fd);
    return request.contains(R"("method":"status")");
}

struct Round {
    double daemonLaunchMs = -1;
    double firstStatusMs = -1;
};

std::optional<Round> runRound()
{
    QTemporaryDir home(QStringLiteral("/tmp/tornel-start-XXXXXX"));
    const QString appDir = home.path() + QStringLiteral("/app");
    const QString runtime = home.path() + QStringLiteral("/runtime");
    QDir().mkpath(appDir);
    QDir().mkpath(runtime);
    QDir().mkpath(home.path() + QStringLiteral("/.tornel"));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString app = appDir + QStringLiteral("/tornel");
    QFile::copy(QStringLiteral(TORNEL_APP_PATH), app);
    QFile daemon(appDir + QStringLiteral("/tornel-sync"));
    if (!daemon.open(QIODevice::WriteOnly))
        return std::nullopt;
    daemon.write("#!/bin/sh\nexec sleep 600\n");
    daemon.close();
    daemon.setPermissions(daemon.permissions() | QFile::ExeOwner);
    const int listenFd = listenAt(home.path() + QStringLiteral("/.tornel/daemon.sock"));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    QProcess companion;
    companion.setProcessEnvironment(env);
    companion.setProcessChannelMode(QProcess::SeparateChannels);

    Round round;
    QElapsedTimer clock;
    clock.start();
    companion.start(app, {});
    QByteArray output;
    while (round.firstStatusMs < 0 && clock.elapsed() < 10000) {
        pollfd ready{listenFd, POLLIN, 0};
        if (::poll(&ready, 1, 2) > 0 && serveStatus(listenFd))
            round.firstStatusMs = double(clock.nsecsElapsed()) / 1e6;
        if (round.daemonLaunchMs < 0) {
            companion.waitForReadyRead(0);
            output += companion.readAllStandardOutput();
            if (output.contains("[daemon] Started (PID: "))
                round.daemonLaunchMs = double(clock.nsecsElapsed()) / 1e6;
        }
    }
    companion.terminate();
    if (!companion.waitForFinished(10000))
        companion.kill();
    companion.waitForFinished();
    ::close(listenFd);
    if (round.firstStatusMs < 0) {
        std::fprintf(stderr, "no status request within 10 s; the companion said:\n%s\n", output.constData());
        return std::nullopt;
    }
    return round;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = app.arguments().value(1, QStringLiteral("10")).toInt();
    std::printf("start-up: %d rounds, platform %s\n", rounds,
                qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("(default)")).toUtf8().constData());
    std::vector<double> launches, firsts;
    for (int i = 1; i <= rounds; ++i) {
        const std::optional<Round> round = runRound();
        if (!round)
            return 1;
        std::printf("  round %2d: daemon launched at %6.1f ms, first status request at %6.1f ms\n", i,
                    round->daemonLaunchMs, round->firstStatusMs);
        launches.push_back(round->daemonLaunchMs);
        firsts.push_back(round->firstStatusMs);
    }
    const double first = median(firsts);
    std::printf("median: daemon launched at %.1f ms, first status request (icon update) at %.1f ms"
                " (target <= 1200 ms: %s)\n",
                median(launches), first, first <= 1200 ? "met" : "MISSED");
    return 0;
}
