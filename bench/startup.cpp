// Start-up and opening the panel, the companion against the floor, each
// round starting both afresh in turn (the order alternating) on the same
// display and tray host:
//   - exec to the tray icon docked: reparented into the tray and drawn there;
//   - a click on the icon to the panel (the floor's popup) mapped and wholly
//     painted, for the first opening and for later ones, each after a click
//     outside closed it;
//   - for the companion also exec to the daemon's launch and to its first
//     status request (the first icon update).
// Each program runs in a scratch home whose daemon socket this program serves
// with a synced status; the companion's `tornel-sync` only sleeps. Medians of
// the rounds, and the ratios companion / floor of the medians.
//
// Usage: bench_startup [rounds = 10] [later openings per round = 3]
// Without an X display with DAMAGE and XTEST, only the daemon's launch and
// the first status request are measured.
#include "x11_watch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Clock = X11Watch::Clock;

const QByteArray statusAnswer =
    R"({"jsonrpc":"2.0","id":1,"result":{"state":"synced","pendingUploads":0,"pendingDownloads":0,)"
    R"("lastSync":"2024-05-01T11:58:00Z","syncFolder":"~/Tornel","serverUrl":"https://sync.example.org",)"
    R"("userEmail":"ana@example.org"}})"
    "\n";

// Between closing a panel and clicking again: the companion ignores a click
// within 0.3 s of a close, which belongs to the click that closed it.
constexpr int reopenPauseMs = 400;
constexpr int waitLimitMs = 10000;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

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

// Answers one request with a synced status; true when it asked for "status".
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

// One program's figures in one round, in ms; absent when not measured.
struct Figures {
    std::optional<double> iconDocked;
    std::optional<double> firstOpening;
    std::vector<double> laterOpenings;
    std::optional<double> daemonLaunch;
    std::optional<double> firstStatus;
};

// A scratch home with the daemon socket served here, and the program run in it.
class Run {
public:
    Run(X11Watch *x, const QString &program, bool isCompanion) : m_x(x)
    {
        const QString appDir = m_home.path() + QStringLiteral("/app");
        const QString runtime = m_home.path() + QStringLiteral("/runtime");
        QDir().mkpath(appDir);
        QDir().mkpath(runtime);
        QDir().mkpath(m_home.path() + QStringLiteral("/.tornel"));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_listenFd = listenAt(m_home.path() + QStringLiteral("/.tornel/daemon.sock"));
        QString executable = program;
        if (isCompanion) {
            // A copy beside a daemon that says it has started, then sleeps.
            executable = appDir + QStringLiteral("/tornel");
            QFile::copy(program, executable);
            const QByteArray fifo = (m_home.path() + QStringLiteral("/launched")).toUtf8();
            ::mkfifo(fifo.constData(), 0600);
            m_launchedFd = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            QFile daemon(appDir + QStringLiteral("/tornel-sync"));
            daemon.open(QIODevice::WriteOnly);
            daemon.write("#!/bin/sh\necho >'" + fifo + "'\nexec sleep 600\n");
            daemon.close();
            daemon.setPermissions(daemon.permissions() | QFile::ExeOwner);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(m_home.path() + QStringLiteral("/output"));
        m_process.setStandardErrorFile(m_home.path() + QStringLiteral("/output"), QIODevice::Append);
        m_started = Clock::now();
        m_process.start(executable, {});
        m_process.waitForStarted();
        if (m_x)
            m_x->follow(pid_t(m_process.processId()));
    }

    ~Run()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
        ::close(m_listenFd);
        if (m_launchedFd >= 0)
            ::close(m_launchedFd);
    }

    // Serves the socket and follows the display until `done` or the limit.
    bool until(const std::function<bool()> &done, int limitMs = waitLimitMs)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        while (!done()) {
            const int left = int(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
            if (left <= 0)
                return false;
            pollfd watched[] = {{m_listenFd, POLLIN, 0}, {m_launchedFd, POLLIN, 0}, {m_x ? m_x->fd() : -1, POLLIN, 0}};
            ::poll(watched, 3, left);
            if (watched[0].revents && serveStatus(m_listenFd) && !m_figures.firstStatus)
                m_figures.firstStatus = msBetween(m_started, Clock::now());
            if (watched[1].revents) {
                m_figures.daemonLaunch = msBetween(m_started, Clock::now());
                ::close(m_launchedFd);
                m_launchedFd = -1;
            }
            if (m_x)
                m_x->dispatch();
        }
        return true;
    }

    void pause(int ms)
    {
        until([] { return false; }, ms);
    }

    QByteArray output() const
    {
        QFile file(m_home.path() + QStringLiteral("/output"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    Clock::time_point started() const { return m_started; }
    Figures &figures() { return m_figures; }

private:
    X11Watch *m_x;
    QTemporaryDir m_home{QStringLiteral("/tmp/tornel-start-XXXXXX")};
    int m_listenFd = -1;
    int m_launchedFd = -1;
    QProcess m_process;
    Clock::time_point m_started;
    Figures m_figures;
};

// Clicks the icon and waits for the panel to be painted: ms from the click.
std::optional<double> openPanel(Run &run, X11Watch &x)
{
    const QPoint icon = x.icon()->rect.center();
    const Clock::time_point clicked = x.click(icon);
    if (!run.until([&] { return x.popupPaintedAt() && *x.popupPaintedAt() >= clicked; }))
        return std::nullopt;
    return msBetween(clicked, *x.popupPaintedAt());
}

std::optional<Figures> measure(X11Watch *x, const QString &program, bool isCompanion, int laterOpenings)
{
    Run run(x, program, isCompanion);
    const auto fail = [&run](const char *what) -> std::optional<Figures> {
        std::fprintf(stderr, "%s; the program said:\n%s\n", what, run.output().constData());
        return std::nullopt;
    };
    if (isCompanion && !run.until([&] { return run.figures().firstStatus.has_value(); }))
        return fail("no status request within 10 s");
    if (!x)
        return run.figures();
    if (!run.until([x] { return x->iconDrawnAt().has_value(); }))
        return fail("no icon docked within 10 s");
    run.figures().iconDocked = msBetween(run.started(), *x->iconDrawnAt());

    // Opened once the start-up is over, as a user would (the companion's
    // first status comes about 1.1 s after exec).
    run.until([&] { return Clock::now() - run.started() > std::chrono::seconds(2); });
    run.figures().firstOpening = openPanel(run, *x);
    if (!run.figures().firstOpening)
        return fail("the first click opened no panel within 10 s");
    for (int i = 0; i < laterOpenings; ++i) {
        x->click(x->screen().bottomRight() - QPoint(10, 10));
        if (!run.until([x] { return !x->popupShown(); }))
            return fail("a click outside did not close the panel");
        run.pause(reopenPauseMs);
        const std::optional<double> opening = openPanel(run, *x);
        if (!opening)
            return fail("a later click opened no panel within 10 s");
        run.figures().laterOpenings.push_back(*opening);
    }
    return run.figures();
}

// The median of one figure over the rounds.
double medianOf(const std::vector<Figures> &rounds, std::optional<double> Figures::*figure)
{
    std::vector<double> values;
    for (const Figures &f : rounds) {
        if (f.*figure)
            values.push_back(*(f.*figure));
    }
    return median(values);
}

double medianOfLater(const std::vector<Figures> &rounds)
{
    std::vector<double> values;
    for (const Figures &f : rounds)
        values.insert(values.end(), f.laterOpenings.begin(), f.laterOpenings.end());
    return median(values);
}

void printRatio(const char *what, double companion, double floor, double target)
{
    const double ratio = companion / floor;
    std::printf("  %-40s companion %7.1f ms  floor %7.1f ms  ratio %.2f (target <= %.1f: %s)\n", what, companion,
                floor, ratio, target, ratio <= target ? "met" : "MISSED");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = app.arguments().value(1, QStringLiteral("10")).toInt();
    const int laterOpenings = app.arguments().value(2, QStringLiteral("3")).toInt();
    const QString companion = qEnvironmentVariable("TORNEL_BENCH_COMPANION", QStringLiteral(TORNEL_APP_PATH));
    std::unique_ptr<X11Watch> x = X11Watch::open();
    std::printf("start-up: %d rounds, %d later openings each, platform %s%s\n", rounds, laterOpenings,
                qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("(default)")).toUtf8().constData(),
                x ? "" : ", no X display to watch: icon and panel not measured");

    std::map<bool, std::vector<Figures>> results;
    for (int round = 1; round <= rounds; ++round) {
        for (const bool isCompanion : {round % 2 == 1, round % 2 == 0}) {
            const std::optional<Figures> f = measure(x.get(), isCompanion ? companion : QStringLiteral(TORNEL_FLOOR_PATH),
                                                     isCompanion, laterOpenings);
            if (!f)
                return 1;
            std::printf("  round %2d %-9s icon docked %6.1f ms, first opening %5.1f ms, later", round,
                        isCompanion ? "companion" : "floor", f->iconDocked.value_or(-1), f->firstOpening.value_or(-1));
            for (double later : f->laterOpenings)
                std::printf(" %5.1f", later);
            if (isCompanion)
                std::printf("; daemon launched %6.1f ms, first status request %6.1f ms", f->daemonLaunch.value_or(-1),
                            f->firstStatus.value_or(-1));
            std::printf("\n");
            std::fflush(stdout);
            results[isCompanion].push_back(*f);
        }
    }

    const std::vector<Figures> &ours = results[true];
    const std::vector<Figures> &floor = results[false];
    const double firstStatus = medianOf(ours, &Figures::firstStatus);
    std::printf("medians over %d rounds\n", rounds);
    std::printf("  companion: daemon launched at %.1f ms, first status request (first icon update) at %.1f ms\n",
                medianOf(ours, &Figures::daemonLaunch), firstStatus);
    if (!x)
        return 0;
    printRatio("exec -> tray icon docked", medianOf(ours, &Figures::iconDocked), medianOf(floor, &Figures::iconDocked),
               1.2);
    printRatio("click -> panel painted, first opening", medianOf(ours, &Figures::firstOpening),
               medianOf(floor, &Figures::firstOpening), 1.2);
    printRatio("click -> panel painted, later openings", medianOfLater(ours), medianOfLater(floor), 1.2);
    return 0;
}
