// The companion's idle cost against the floor app, side by side in the same
// window: both run at once with one HOME, so both poll the one stand-in daemon
// that the companion launched. Each round starts both afresh, lets them
// settle, then measures a window. Prints every round, the medians, and the
// ratios companion / floor.
//
// The daemon is idle as a user's usually is: logged in, synced, no changes
// coming. The stand-in logs every request it gets, which an idle daemon would
// not, and which the floor never reads; so by default its output goes to
// /dev/null. With --echo-daemon the companion echoes it as usual.
//
// Wake-ups of the main thread are counted per poll (one every 2 s): each
// program wakes for its poll and for the answer, and should not otherwise.
// With --open-panels fewer, shorter rounds follow in which each program's
// panel is opened with a click and closed again before the window: what an
// opening leaves behind. With --no-tray-display the rounds are repeated,
// shorter, on a display without a tray host, where a program waits for one.
//
// Usage: bench_idle_cost [window seconds = 60] [rounds = 5] [settle seconds = 10] [--echo-daemon]
//                        [--open-panels] [--no-tray-display=:N]
// Runs on whatever display the environment names (see bench/run);
// $TORNEL_BENCH_COMPANION names another build of the companion to measure.
#include "process_sample.h"
#include "x11_watch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Figures {
    double cpuMs = 0;
    double contextSwitches = 0;
    double rssMb = 0;
    double privateDirtyMb = 0;
    double anonymousMb = 0;
    double threads = 0;
    double fds = 0;
    double threadGrowth = 0;
    double fdGrowth = 0;
    double wakeupsPerPoll = 0;
};

constexpr double pollSeconds = 2.0;

Figures compare(const ProcessSample &start, const ProcessSample &end, int windowSeconds)
{
    return Figures{double(end.cpuNs - start.cpuNs) / 1e6,
                   double(end.contextSwitches - start.contextSwitches),
                   double(end.rssKb) / 1024.0,
                   double(end.privateDirtyKb) / 1024.0,
                   double(end.anonymousKb) / 1024.0,
                   double(end.threads),
                   double(end.fds),
                   double(end.threads - start.threads),
                   double(end.fds - start.fds),
                   double(end.mainThreadWakeups - start.mainThreadWakeups) / (windowSeconds / pollSeconds)};
}

void print(const char *who, const Figures &f)
{
    std::printf("  %-10s cpu %7.1f ms  ctxsw %6.0f  rss %6.1f MB  private dirty %5.1f MB  anon %5.1f MB"
                "  threads %2.0f (%+.0f)  fds %2.0f (%+.0f)  main-thread wake-ups per poll %.2f\n",
                who, f.cpuMs, f.contextSwitches, f.rssMb, f.privateDirtyMb, f.anonymousMb, f.threads, f.threadGrowth,
                f.fds, f.fdGrowth, f.wakeupsPerPoll);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

void stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
}

struct Round {
    Figures companion;
    Figures floor;
};

// A copy of the companion with the daemon it is to launch beside it.
QString installCompanion(const QString &dir, bool echoDaemon)
{
    QDir().mkpath(dir);
    const QString app = dir + QStringLiteral("/tornel");
    QFile daemon(dir + QStringLiteral("/tornel-sync"));
    const QString build = qEnvironmentVariable("TORNEL_BENCH_COMPANION", QStringLiteral(TORNEL_APP_PATH));
    if (!QFile::copy(build, app) || !daemon.open(QIODevice::WriteOnly))
        return {};
    daemon.write("#!/bin/sh\nexport TORNEL_SIM_CHANGES_MS=3600000\nexec '" TORNEL_SIM_PATH "'");
    daemon.write(echoDaemon ? "\n" : " >/dev/null 2>&1\n");
    daemon.close();
    daemon.setPermissions(daemon.permissions() | QFile::ExeOwner);
    return app;
}

// Logs the stand-in daemon in, as the panel's login form would.
bool logIn(const QString &socketPath)
{
    const QByteArray path = socketPath.toUtf8();
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const QByteArray request = R"({"jsonrpc":"2.0","method":"login","id":1,)"
                               R"("params":{"email":"bench@example.org","password":"tornel"}})"
                               "\n";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    char answer[4096] = {};
    const bool sent = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0
        && ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == ssize_t(request.size());
    const bool answered = sent && ::recv(fd, answer, sizeof(answer) - 1, 0) > 0;
    ::close(fd);
    return answered && std::strstr(answer, "\"result\"");
}

// Opens the followed program's panel with a click on its tray icon, once
// it is drawn, and closes it with a click outside, as a user would.
bool openPanelOnce(X11Watch &x)
{
    const auto waitOn = [&x](const std::function<bool()> &condition) {
        return waitFor([&] {
            x.dispatch();
            return condition();
        }, 10000);
    };
    if (!waitOn([&x] { return x.iconDrawnAt().has_value(); }))
        return false;
    const X11Watch::Clock::time_point clicked = x.click(x.icon()->rect.center());
    if (!waitOn([&] { return x.popupPaintedAt() && *x.popupPaintedAt() >= clicked; }))
        return false;
    x.click(x.screen().bottomRight() - QPoint(10, 10));
    return waitOn([&x] { return !x.popupShown(); });
}

// `display` empty: the one the environment names. With `opener`, each
// program's panel is opened and closed once after its start-up, then both
// settle again before the window.
std::optional<Round> runRound(int settleSeconds, int windowSeconds, bool echoDaemon, const QString &display,
                              X11Watch *opener = nullptr)
{
    QTemporaryDir home(QStringLiteral("/tmp/tornel-idle-XXXXXX"));
    const QString runtime = home.path() + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString app = installCompanion(home.path() + QStringLiteral("/app"), echoDaemon);
    if (app.isEmpty())
        return std::nullopt;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), display);

    QProcess companion;
    companion.setProcessEnvironment(env);
    companion.setStandardOutputFile(QProcess::nullDevice());
    companion.start(app, {});
    if (opener)
        opener->follow(pid_t(companion.processId()));
    const QString socket = home.path() + QStringLiteral("/.tornel/daemon.sock");
    if (!companion.waitForStarted() || !waitFor([&] { return QFile::exists(socket); }, 15000)) {
        std::fprintf(stderr, "the companion did not bring up its daemon\n");
        stop(companion);
        return std::nullopt;
    }
    if (!logIn(socket)) {
        std::fprintf(stderr, "could not log the daemon in\n");
        stop(companion);
        return std::nullopt;
    }
    if (opener) {
        // The daemon has synced by then, so the panel shows a last-sync time.
        QThread::sleep(settleSeconds);
        if (!openPanelOnce(*opener)) {
            std::fprintf(stderr, "the companion's panel did not open and close\n");
            stop(companion);
            return std::nullopt;
        }
    }
    QProcess floor;
    floor.setProcessEnvironment(env);
    floor.start(QStringLiteral(TORNEL_FLOOR_PATH), {});
    floor.waitForStarted();
    if (opener) {
        opener->follow(pid_t(floor.processId()));
        if (!openPanelOnce(*opener)) {
            std::fprintf(stderr, "the floor's panel did not open and close\n");
            stop(floor);
            stop(companion);
            return std::nullopt;
        }
    }

    QThread::sleep(settleSeconds);
    const auto companionStart = ProcessSample::of(pid_t(companion.processId()));
    const auto floorStart = ProcessSample::of(pid_t(floor.processId()));
    QThread::sleep(windowSeconds);
    const auto companionEnd = ProcessSample::of(pid_t(companion.processId()));
    const auto floorEnd = ProcessSample::of(pid_t(floor.processId()));
    stop(floor);
    stop(companion);
    if (!companionStart || !floorStart || !companionEnd || !floorEnd) {
        std::fprintf(stderr, "a process ended during the window\n");
        return std::nullopt;
    }
    return Round{compare(*companionStart, *companionEnd, windowSeconds),
                 compare(*floorStart, *floorEnd, windowSeconds)};
}

// Runs the rounds and prints each; empty when one failed.
std::vector<Round> runRounds(int rounds, int settleSeconds, int windowSeconds, bool echoDaemon, const QString &display,
                             X11Watch *opener = nullptr)
{
    std::vector<Round> results;
    for (int round = 1; round <= rounds; ++round) {
        const std::optional<Round> result = runRound(settleSeconds, windowSeconds, echoDaemon, display, opener);
        if (!result)
            return {};
        std::printf("round %d\n", round);
        print("companion", result->companion);
        print("floor", result->floor);
        std::fflush(stdout);
        results.push_back(*result);
    }
    return results;
}

// The medians of each figure over the rounds, for the companion and the floor.
std::pair<Figures, Figures> mediansOf(const std::vector<Round> &results)
{
    Figures companion, floor;
    for (double Figures::*figure : {&Figures::cpuMs, &Figures::contextSwitches, &Figures::rssMb,
                                    &Figures::privateDirtyMb, &Figures::anonymousMb, &Figures::threads, &Figures::fds,
                                    &Figures::threadGrowth, &Figures::fdGrowth, &Figures::wakeupsPerPoll}) {
        std::vector<double> ours, theirs;
        for (const Round &r : results) {
            ours.push_back(r.companion.*figure);
            theirs.push_back(r.floor.*figure);
        }
        companion.*figure = median(ours);
        floor.*figure = median(theirs);
    }
    return {companion, floor};
}

// Ratios are taken per round (same window), then their median.
double ratioOf(const std::vector<Round> &results, double Figures::*figure)
{
    std::vector<double> values;
    for (const Round &r : results)
        values.push_back(r.floor.*figure > 0 ? r.companion.*figure / (r.floor.*figure) : 0);
    return median(values);
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

// Nothing between polls: no more wake-ups per poll than the floor's, give
// or take one wake-up in eight polls for the odd signal or X event.
constexpr double wakeupTolerance = 0.125;

void printWakeups(const char *where, const Figures &companion, const Figures &floor)
{
    const bool met = companion.wakeupsPerPoll <= floor.wakeupsPerPoll + wakeupTolerance;
    std::printf("  main-thread wake-ups per poll, %s: companion %.2f, floor %.2f (target <= the floor's: %s)\n",
                where, companion.wakeupsPerPoll, floor.wakeupsPerPoll, verdict(met));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    const bool echoDaemon = args.removeAll(QStringLiteral("--echo-daemon")) > 0;
    const bool openPanels = args.removeAll(QStringLiteral("--open-panels")) > 0;
    const QString noTrayOption = QStringLiteral("--no-tray-display=");
    QString noTrayDisplay;
    for (const QString &arg : args.filter(noTrayOption))
        noTrayDisplay = arg.mid(noTrayOption.size());
    args.removeIf([&noTrayOption](const QString &arg) { return arg.startsWith(noTrayOption); });
    const int windowSeconds = args.value(1, QStringLiteral("60")).toInt();
    const int rounds = args.value(2, QStringLiteral("5")).toInt();
    const int settleSeconds = args.value(3, QStringLiteral("10")).toInt();
    std::printf("idle cost: %d rounds, %d s settle, %d s window, platform %s, daemon output %s\n", rounds,
                settleSeconds, windowSeconds,
                qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("(default)")).toUtf8().constData(),
                echoDaemon ? "echoed" : "discarded");

    const std::vector<Round> results = runRounds(rounds, settleSeconds, windowSeconds, echoDaemon, QString());
    if (results.empty())
        return 1;
    const auto [companion, floor] = mediansOf(results);
    std::printf("medians over %d rounds\n", rounds);
    print("companion", companion);
    print("floor", floor);

    const double cpu = ratioOf(results, &Figures::cpuMs);
    const double dirty = ratioOf(results, &Figures::privateDirtyMb);
    const double rss = ratioOf(results, &Figures::rssMb);
    std::printf("ratios companion / floor (median of per-round ratios)\n");
    std::printf("  cpu time        %.2f  (target <= 1.1: %s)\n", cpu, verdict(cpu <= 1.1));
    std::printf("  rss             %.2f  (target <= 1.15: %s)\n", rss, verdict(rss <= 1.15));
    std::printf("  private dirty   %.2f  (target <= 1.2: %s)\n", dirty, verdict(dirty <= 1.2));
    std::printf("  anonymous       %.2f\n", ratioOf(results, &Figures::anonymousMb));
    std::printf("  context switches %.2f\n", ratioOf(results, &Figures::contextSwitches));
    std::printf("  fds             %.2f\n", ratioOf(results, &Figures::fds));
    std::printf("  threads: companion %.0f, floor %.0f (target <= the floor's + 1: %s)\n", companion.threads,
                floor.threads, verdict(companion.threads <= floor.threads + 1));
    const bool noGrowth = companion.threadGrowth <= 0 && companion.fdGrowth <= 0;
    std::printf("  companion thread/fd growth over the window: %+.0f / %+.0f (target none: %s)\n",
                companion.threadGrowth, companion.fdGrowth, verdict(noGrowth));
    printWakeups("with a tray host", companion, floor);

    // Fewer, shorter rounds for the variants below.
    const int fewerRounds = qMin(rounds, 3);
    const int shorterWindow = qMin(windowSeconds, 30);
    if (openPanels) {
        // What stays of an opening: fonts, the panel, ICU's data for the
        // last-sync phrase. The floor's popup is opened once too.
        std::unique_ptr<X11Watch> opener = X11Watch::open();
        std::printf("after each panel was opened once: %d rounds, %d s window\n", fewerRounds, shorterWindow);
        const std::vector<Round> opened
            = opener ? runRounds(fewerRounds, settleSeconds, shorterWindow, echoDaemon, QString(), opener.get())
                     : std::vector<Round>();
        if (opened.empty())
            return 1;
        const auto [openedCompanion, openedFloor] = mediansOf(opened);
        std::printf("medians over %d rounds after an opening\n", fewerRounds);
        print("companion", openedCompanion);
        print("floor", openedFloor);
        std::printf("  ratios: cpu time %.2f, rss %.2f, private dirty %.2f\n", ratioOf(opened, &Figures::cpuMs),
                    ratioOf(opened, &Figures::rssMb), ratioOf(opened, &Figures::privateDirtyMb));
        printWakeups("after an opening", openedCompanion, openedFloor);
    }
    if (noTrayDisplay.isEmpty())
        return 0;

    // Only the wake-ups are in question here.
    const int noTrayRounds = fewerRounds;
    const int noTrayWindow = shorterWindow;
    std::printf("without a tray host (display %s): %d rounds, %d s window\n", qPrintable(noTrayDisplay), noTrayRounds,
                noTrayWindow);
    const std::vector<Round> bare = runRounds(noTrayRounds, settleSeconds, noTrayWindow, echoDaemon, noTrayDisplay);
    if (bare.empty())
        return 1;
    const auto [bareCompanion, bareFloor] = mediansOf(bare);
    std::printf("medians over %d rounds without a tray host\n", noTrayRounds);
    print("companion", bareCompanion);
    print("floor", bareFloor);
    std::printf("  cpu time ratio  %.2f\n", ratioOf(bare, &Figures::cpuMs));
    printWakeups("without a tray host", bareCompanion, bareFloor);
    return 0;
}
