// One status request through IPCClient (connect, send, receive, parse,
// decode, hand to the main thread with a queued call) against the floor's way
// of doing it: a raw Unix-socket exchange of the same bytes, with a fresh
// zero-filled 1 MiB buffer, on a pool thread, and the answer handed to the
// main thread with a queued call; all against one in-process daemon thread,
// in the same run. For reference also the raw exchange on the calling thread
// and the two hand-offs alone. Prints the medians of the repetitions and the
// ratios.
#include "daemon/ipc_client.h"
#include "daemon/status_response.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThreadPool>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QByteArray statusAnswer =
    R"({"jsonrpc":"2.0","id":1,"result":{"state":"synced","pendingUploads":0,"pendingDownloads":0,)"
    R"("lastSync":"2024-05-01T11:58:00Z","syncFolder":"~/Tornel","serverUrl":"https://sync.example.org",)"
    R"("userEmail":"ana@example.org"}})"
    "\n";

sockaddr_un addressOf(const QByteArray &path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return address;
}

// Answers every connection in turn: reads the request line, writes the answer, closes.
class AnsweringDaemon {
public:
    explicit AnsweringDaemon(const QByteArray &path) : m_path(path)
    {
        const sockaddr_un address = addressOf(path);
        m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(m_listenFd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0
            || ::listen(m_listenFd, 16) != 0) {
            std::perror("daemon socket");
            std::exit(1);
        }
        m_thread = std::thread([this] { serve(); });
    }
    ~AnsweringDaemon()
    {
        m_stopping = true;
        m_thread.join();
        ::close(m_listenFd);
    }

private:
    void serve()
    {
        char line[4096];
        while (!m_stopping) {
            pollfd ready{m_listenFd, POLLIN, 0};
            if (::poll(&ready, 1, 100) < 1)
                continue;
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            size_t got = 0;
            while (got < sizeof(line)) {
                const ssize_t n = ::recv(fd, line + got, sizeof(line) - got, 0);
                if (n <= 0)
                    break;
                got += size_t(n);
                if (std::memchr(line, '\n', got))
                    break;
            }
            (void)!::send(fd, statusAnswer.constData(), size_t(statusAnswer.size()), MSG_NOSIGNAL);
            ::close(fd);
        }
    }

    QByteArray m_path;
    int m_listenFd = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

QByteArray g_socketPath;

// The bytes IPCClient writes for "status", so both sides send the same.
QByteArray statusRequest(qint64 id)
{
    return R"({"jsonrpc":"2.0","method":"status","id":)" + QByteArray::number(id) + "}\n";
}

QByteArray rawExchange(const QByteArray &request)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(g_socketPath);
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0
        && ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == ssize_t(request.size())) {
        timeval timeout{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        std::vector<char> buffer(1024 * 1024, 0);
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n > 0)
            answer = QByteArray(buffer.data(), n);
    }
    ::close(fd);
    return answer;
}

void rawExchangeOnCaller(benchmark::State &state)
{
    qint64 id = 0;
    for (auto _ : state) {
        const QByteArray answer = rawExchange(statusRequest(++id));
        if (answer.size() != statusAnswer.size())
            state.SkipWithError("raw exchange failed");
        benchmark::DoNotOptimize(answer.constData());
    }
}

// For reference: the raw exchange on a pool thread, the answer handed to
// the main thread, as the floor app polls.
void rawExchangeOnWorker(benchmark::State &state)
{
    QThreadPool pool;
    qint64 id = 0;
    for (auto _ : state) {
        QEventLoop loop;
        const QByteArray request = statusRequest(++id);
        pool.start([&loop, request] {
            const QByteArray answer = rawExchange(request);
            QMetaObject::invokeMethod(&loop, [&loop, size = answer.size()] { loop.exit(int(size)); }, Qt::QueuedConnection);
        });
        if (loop.exec() != statusAnswer.size())
            state.SkipWithError("raw exchange failed");
    }
}

// For reference: the two hand-offs alone, to a pool thread and back to the
// main thread with a queued call, no socket.
void threadHandoffs(benchmark::State &state)
{
    QThreadPool pool;
    for (auto _ : state) {
        QEventLoop loop;
        pool.start([&loop] { QMetaObject::invokeMethod(&loop, [&loop] { loop.exit(0); }, Qt::QueuedConnection); });
        loop.exec();
    }
}

void ipcClientRequest(benchmark::State &state)
{
    IPCClient client(QString::fromUtf8(g_socketPath));
    for (auto _ : state) {
        QEventLoop loop;
        client.send(QStringLiteral("status"), std::nullopt, [&loop](const IPCResult &result) {
            std::optional<StatusResponse> record;
            if (const auto *value = std::get_if<QJsonValue>(&result))
                record = StatusResponse::decode(*value);
            QMetaObject::invokeMethod(&loop, [&loop, record] { loop.exit(record ? 0 : 1); }, Qt::QueuedConnection);
        });
        if (loop.exec() != 0)
            state.SkipWithError("IPCClient request failed");
    }
}

BENCHMARK(rawExchangeOnCaller)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(rawExchangeOnWorker)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(threadHandoffs)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ipcClientRequest)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Prints as usual and keeps each benchmark's median for the ratios.
class MedianKeeper : public benchmark::ConsoleReporter {
public:
    MedianKeeper() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> medians;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QStringLiteral("/tmp/tornel-bench-XXXXXX"));
    g_socketPath = (dir.path() + QStringLiteral("/daemon.sock")).toUtf8();
    AnsweringDaemon daemon(g_socketPath);

    // Repetitions give the medians, interleaved so that a noisy spell of the
    // machine does not fall on one side only; the command line may override.
    std::vector<char *> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=20";
    std::string minTime = "--benchmark_min_time=0.2";
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, {repetitions.data(), minTime.data(), interleave.data()});
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    MedianKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const auto median = [&reporter](const char *name) { return reporter.medians[name]; };
    const double raw = median("rawExchangeOnCaller");
    const double client = median("ipcClientRequest");
    if (raw <= 0 || client <= 0)
        return 1;
    std::printf("\nmedian one request: raw exchange %.1f us, raw on a worker + queued call %.1f us, IPCClient %.1f us"
                " (the two hand-offs alone: %.1f us)\n",
                raw, median("rawExchangeOnWorker"), client, median("threadHandoffs"));
    const double floorWay = median("rawExchangeOnWorker");
    std::printf("ratio IPCClient / raw exchange: %.2f\n", client / raw);
    std::printf("ratio IPCClient / the floor's way (raw on a worker + queued call): %.2f (target <= 1.15: %s)\n",
                client / floorWay, client / floorWay <= 1.15 ? "met" : "MISSED");
    return 0;
}
