#include "daemon/ipc_client.h"
#include "daemon/status_response.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int startTimeoutMs = 10'000;
// Long enough for the client's own 10-second limit to speak first.
constexpr int requestTimeoutMs = 15'000;

// The built daemon as a child process with its own HOME and TORNEL_SIM_*.
class DaemonProcess {
public:
    DaemonProcess(const QString &home, const QList<std::pair<QString, QString>> &settings = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString &name : environment.keys()) {
            if (name.startsWith("TORNEL_SIM_"_L1))
                environment.remove(name);
        }
        environment.insert(u"HOME"_s, home);
        for (const auto &[name, value] : settings)
            environment.insert(name, value);
        process.setProcessEnvironment(environment);
        process.setProgram(QStringLiteral(TORNEL_SIM_PATH));
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                         [this] { m_output += process.readAllStandardOutput(); });
    }

    ~DaemonProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    // True once the daemon says it listens.
    bool start()
    {
        process.start();
        if (!process.waitForStarted())
            return false;
        QDeadlineTimer deadline(startTimeoutMs);
        while (!output().contains("Listening on"_L1) && process.state() == QProcess::Running && !deadline.hasExpired())
            QTest::qWait(10);
        return output().contains("Listening on"_L1);
    }

    QString output()
    {
        m_output += process.readAllStandardOutput();
        return QString::fromUtf8(m_output);
    }

    QProcess process;

private:
    QByteArray m_output;
};

struct Completion {
    QSemaphore finished;
    std::mutex mutex;
    IPCResult result;
};

std::shared_ptr<Completion> start(IPCClient &client, const QString &method,
                                  const std::optional<QJsonObject> &params = std::nullopt)
{
    auto completion = std::make_shared<Completion>();
    client.send(method, params, [completion](const IPCResult &result) {
        {
            std::lock_guard lock(completion->mutex);
            completion->result = result;
        }
        completion->finished.release();
    });
    return completion;
}

IPCResult await(const std::shared_ptr<Completion> &completion)
{
    if (!completion->finished.tryAcquire(1, requestTimeoutMs))
        return IPCError{u"test: no completion"_s};
    std::lock_guard lock(completion->mutex);
    return completion->result;
}

IPCResult call(IPCClient &client, const QString &method, const std::optional<QJsonObject> &params = std::nullopt)
{
    return await(start(client, method, params));
}

QString failureOf(const IPCResult &result)
{
    const auto *error = std::get_if<IPCError>(&result);
    return error ? error->description() : QString();
}

std::optional<StatusResponse> statusOf(IPCClient &client)
{
    const IPCResult result = call(client, u"status"_s);
    if (const auto *value = std::get_if<QJsonValue>(&result))
        return StatusResponse::decode(*value);
    qWarning() << "status failed:" << failureOf(result);
    return std::nullopt;
}

QJsonObject credentials(const QString &email, const QString &password, const QString &serverUrl = {})
{
    QJsonObject params{{u"email"_s, email}, {u"password"_s, password}};
    if (!serverUrl.isEmpty())
        params.insert(u"serverUrl"_s, serverUrl);
    return params;
}

sockaddr_un addressOf(const QString &path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    std::memcpy(address.sun_path, bytes.constData(), size_t(qMin(bytes.size(), qsizetype(sizeof(address.sun_path) - 1))));
    return address;
}

int connectTo(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(path);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Writes raw bytes and reads until the daemon closes, bypassing the client's
// own framing, for requests the client would never send.
QByteArray exchangeRaw(const QString &path, const QByteArray &request)
{
    const int fd = connectTo(path);
    if (fd < 0)
        return {};
    (void)!::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    QByteArray answer;
    char chunk[4096];
    pollfd readable{fd, POLLIN, 0};
    while (::poll(&readable, 1, requestTimeoutMs) > 0) {
        const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
        if (n <= 0)
            break;
        answer.append(chunk, n);
    }
    ::close(fd);
    return answer;
}

QString errorMessageOf(const QByteArray &answer)
{
    const QJsonObject object = QJsonDocument::fromJson(answer).object();
    return object.value(u"error"_s).toObject().value(u"message"_s).toString();
}

} // namespace

class TestStandInDaemon : public QObject {
    Q_OBJECT

private slots:
    void init();
    void commandsWalkThroughEveryState();
    void changesArriveWhilePausedAndSyncOnResume();
    void badRequestsGetErrorAnswersAndDoNotBlockOthers();
    void staleSocketIsReplaced();
    void secondInstanceExitsWithOne();
    void terminationSignalRemovesSocket_data();
    void terminationSignalRemovesSocket();
    void faultModes_data();
    void faultModes();
    void exitsWithTheRequestedStatus();
    void chaosDisturbsEveryAnswerButKeepsServing();
    void chaosCanEndTheProcess_data();
    void chaosCanEndTheProcess();
    void rejectsUnusableSettings();

private:
    QString socketPath() const { return m_home->path() + u"/.tornel/daemon.sock"_s; }

    std::unique_ptr<QTemporaryDir> m_home;
};

void TestStandInDaemon::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
}

void TestStandInDaemon::commandsWalkThroughEveryState()
{
    // Three or more files each way, half a second apiece: a status asked at
    // once after the login still finds the sync running.
    DaemonProcess daemon(m_home->path(), {{u"TORNEL_SIM_TICK_MS"_s, u"500"_s}});
    QVERIFY(daemon.start());
    struct stat directory {};
    QCOMPARE(::stat(QFile::encodeName(m_home->path() + u"/.tornel"_s).constData(), &directory), 0);
    QCOMPARE(directory.st_mode & 0777, 0700u);
    IPCClient client(socketPath());

    std::optional<StatusResponse> status = statusOf(client);
    QVERIFY(status);
    QCOMPARE(status->state, SyncStatus::loggedOut);
    QCOMPARE(status->syncFolder, u"~/Tornel"_s);
    QCOMPARE(status->serverUrl, u"http://localhost:8080"_s);
    QCOMPARE(status->userEmail, std::nullopt);
    QCOMPARE(status->lastSync, std::nullopt);
    QCOMPARE(failureOf(call(client, u"pause"_s)), u"Not logged in"_s);

    QCOMPARE(failureOf(call(client, u"login"_s, credentials(u"ann@example.org"_s, u"s3cret-pass"_s))),
             u"Invalid email or password"_s);
    QCOMPARE(failureOf(call(client, u"login"_s, credentials(u"ann.example.org"_s, u"tornel"_s))),
             u"Invalid email or password"_s);
    QCOMPARE(failureOf(call(client, u"login"_s, credentials(u"ann@example.org"_s, u"tornel"_s, u"ftp://sync.example.org"_s))),
             u"Invalid server URL"_s);
    QCOMPARE(failureOf(call(client, u"frobnicate"_s)), u"Unknown method: frobnicate"_s);
    QCOMPARE(statusOf(client)->state, SyncStatus::loggedOut);
    QVERIFY(!QFileInfo::exists(m_home->path() + u"/Tornel"_s));

    QCOMPARE(failureOf(call(client, u"login"_s, credentials(u"ann@example.org"_s, u"tornel"_s, u"https://sync.example.org"_s))),
             QString());
    QVERIFY(QFileInfo(m_home->path() + u"/Tornel"_s).isDir());
    status = statusOf(client);
    QVERIFY(status);
    QCOMPARE(status->state, SyncStatus::syncing);
    QVERIFY(status->pendingUploads > 0 || status->pendingDownloads > 0);
    QCOMPARE(status->userEmail, u"ann@example.org"_s);
    QCOMPARE(status->serverUrl, u"https://sync.example.org"_s);

    QTRY_VERIFY_WITH_TIMEOUT((status = statusOf(client)) && status->state == SyncStatus::synced, 20'000);
    QCOMPARE(status->pendingUploads, 0);
    QCOMPARE(status->pendingDownloads, 0);
    QVERIFY(status->lastSync);
    QVERIFY(QRegularExpression(u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"_s).match(*status->lastSync).hasMatch());
    const QDateTime lastSync = QDateTime::fromString(*status->lastSync, Qt::ISODate);
    QVERIFY(qAbs(lastSync.secsTo(QDateTime::currentDateTimeUtc())) < 120);

    QCOMPARE(failureOf(call(client, u"pause"_s)), QString());
    status = statusOf(client);
    QVERIFY(status);
    QCOMPARE(status->state, SyncStatus::paused);
    QCOMPARE(status->userEmail, u"ann@example.org"_s);

    QCOMPARE(failureOf(call(client, u"resume"_s)), QString());
    QCOMPARE(statusOf(client)->state, SyncStatus::synced);

    QCOMPARE(failureOf(call(client, u"logout"_s)), QString());
    status = statusOf(client);
    QVERIFY(status);
    QCOMPARE(status->state, SyncStatus::loggedOut);
    QCOMPARE(status->userEmail, std::nullopt);
    QCOMPARE(status->syncFolder, u"~/Tornel"_s);

    QTRY_VERIFY(daemon.output().contains("State: synced -> logged_out"_L1));
    const QString output = daemon.output();
    QVERIFY(output.contains("Request: login"_L1));
    QVERIFY(output.contains("State: synced -> paused"_L1));
    QVERIFY(!output.contains("s3cret-pass"_L1));
}

void TestStandInDaemon::changesArriveWhilePausedAndSyncOnResume()
{
    DaemonProcess daemon(m_home->path(), {{u"TORNEL_SIM_TICK_MS"_s, u"50"_s}, {u"TORNEL_SIM_CHANGES_MS"_s, u"400"_s}});
    QVERIFY(daemon.start());
    IPCClient client(socketPath());
    QVERIFY(std::holds_alternative<QJsonValue>(call(client, u"login"_s, credentials(u"bo@example.org"_s, u"tornel"_s))));
    std::optional<StatusResponse> status;
    QTRY_VERIFY_WITH_TIMEOUT((status = statusOf(client)) && status->state == SyncStatus::synced, 10'000);

    // Paused, the countdown stops: what arrives waits.
    QVERIFY(std::holds_alternative<QJsonValue>(call(client, u"pause"_s)));
    QTRY_VERIFY_WITH_TIMEOUT((status = statusOf(client)) && status->pendingDownloads >= 2, 10'000);
    QCOMPARE(status->state, SyncStatus::paused);

    QVERIFY(std::holds_alternative<QJsonValue>(call(client, u"resume"_s)));
    QTRY_VERIFY_WITH_TIMEOUT((status = statusOf(client)) && status->state == SyncStatus::synced, 10'000);
    QTRY_VERIFY(daemon.output().contains("Changes arrived"_L1));
}

void TestStandInDaemon::badRequestsGetErrorAnswersAndDoNotBlockOthers()
{
    DaemonProcess daemon(m_home->path());
    QVERIFY(daemon.start());
    IPCClient client(socketPath());

    // A client that connects and says nothing holds only its own connection.
    const int silentClient = connectTo(socketPath());
    QVERIFY(silentClient >= 0);
    QVERIFY(statusOf(client));

    QVERIFY(errorMessageOf(exchangeRaw(socketPath(), "not json\n")).startsWith("Parse error"_L1));
    QVERIFY(errorMessageOf(exchangeRaw(socketPath(), "[1,2]\n")).startsWith("Invalid request"_L1));
    QVERIFY(errorMessageOf(exchangeRaw(socketPath(), R"({"jsonrpc":"2.0","id":1})"
                                                     "\n"))
                .startsWith("Invalid request"_L1));
    const QByteArray badParams = R"({"jsonrpc":"2.0","id":4,"method":"login","params":{"email":1}})"
                                 "\n";
    const QJsonObject answer = QJsonDocument::fromJson(exchangeRaw(socketPath(), badParams)).object();
    QCOMPARE(answer.value(u"id"_s).toInt(), 4);
    QVERIFY(answer.value(u"error"_s).toObject().value(u"message"_s).toString().startsWith("Invalid params"_L1));
    QCOMPARE(errorMessageOf(exchangeRaw(socketPath(), QByteArray(70 * 1024, 'x'))), u"Request too large"_s);
    ::close(silentClient);

    QVERIFY(statusOf(client));
    QCOMPARE(daemon.process.state(), QProcess::Running);
}

void TestStandInDaemon::staleSocketIsReplaced()
{
    QVERIFY(QDir(m_home->path()).mkpath(u".tornel"_s));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = addressOf(socketPath());
    QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)), 0);
    ::close(fd); // bound but never listening: what a killed daemon leaves
    QVERIFY(QFileInfo::exists(socketPath()));

    DaemonProcess daemon(m_home->path());
    QVERIFY2(daemon.start(), qPrintable(daemon.output() + QString::fromUtf8(daemon.process.readAllStandardError())));
    QTRY_VERIFY(daemon.output().contains("Removed stale socket"_L1));
    IPCClient client(socketPath());
    QVERIFY(statusOf(client));
}

void TestStandInDaemon::secondInstanceExitsWithOne()
{
    DaemonProcess first(m_home->path());
    QVERIFY(first.start());

    DaemonProcess second(m_home->path());
    second.process.start();
    QVERIFY(second.process.waitForFinished(startTimeoutMs));
    QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process.exitCode(), 1);
    QVERIFY(second.process.readAllStandardError().contains("already listening"));

    // The first one keeps its socket and keeps answering.
    IPCClient client(socketPath());
    QVERIFY(statusOf(client));
}

void TestStandInDaemon::terminationSignalRemovesSocket_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TestStandInDaemon::terminationSignalRemovesSocket()
{
    QFETCH(int, signalNumber);
    DaemonProcess daemon(m_home->path());
    QVERIFY(daemon.start());
    // An open, silent connection must not hold up the exit.
    const int idle = connectTo(socketPath());
    QVERIFY(idle >= 0);

    QCOMPARE(::kill(pid_t(daemon.process.processId()), signalNumber), 0);
    QVERIFY(daemon.process.waitForFinished(startTimeoutMs));
    ::close(idle);
    QCOMPARE(daemon.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(daemon.process.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(socketPath()));
}

void TestStandInDaemon::faultModes_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("failure"); // empty: a status record that decodes
    QTest::newRow("split") << u"split"_s << QString();
    QTest::newRow("error") << u"error"_s << u"Simulated daemon failure"_s;
    QTest::newRow("close") << u"close"_s << u"No response from daemon"_s;
    QTest::newRow("garbage") << u"garbage"_s << u"*"_s;
}

void TestStandInDaemon::faultModes()
{
    QFETCH(QString, fault);
    QFETCH(QString, failure);
    DaemonProcess daemon(m_home->path(), {{u"TORNEL_SIM_FAULT"_s, fault}});
    QVERIFY(daemon.start());
    IPCClient client(socketPath());

    const IPCResult result = call(client, u"status"_s);
    if (failure.isEmpty()) {
        QVERIFY2(std::holds_alternative<QJsonValue>(result), qPrintable(failureOf(result)));
        QVERIFY(StatusResponse::decode(std::get<QJsonValue>(result)));
    } else if (failure == "*"_L1) {
        QVERIFY(!failureOf(result).isEmpty());
        QVERIFY(failureOf(result) != "test: no completion"_L1);
    } else {
        QCOMPARE(failureOf(result), failure);
    }
    QTRY_VERIFY(daemon.output().contains("Fault: connection 1"_L1));
}

void TestStandInDaemon::exitsWithTheRequestedStatus()
{
    DaemonProcess daemon(m_home->path(), {{u"TORNEL_SIM_EXIT_AFTER_MS"_s, u"200"_s}, {u"TORNEL_SIM_EXIT_STATUS"_s, u"3"_s}});
    QVERIFY(daemon.start());
    QVERIFY(daemon.process.waitForFinished(startTimeoutMs));
    QCOMPARE(daemon.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(daemon.process.exitCode(), 3);
}

void TestStandInDaemon::chaosDisturbsEveryAnswerButKeepsServing()
{
    DaemonProcess daemon(m_home->path(), {{u"TORNEL_SIM_CHAOS"_s, u"4"_s}, // meets every kind of answer within 16
                                          {u"TORNEL_SIM_CHAOS_RATE"_s, u"1"_s},
                                          {u"TORNEL_SIM_CHAOS_CRASH_RATE"_s, u"0"_s}});
    QVERIFY(daemon.start());
    IPCClient client(socketPath());

    constexpr int requests = 16; // the client runs up to 16 at once
    QList<std::shared_ptr<Completion>> pending;
    for (int i = 0; i < requests; ++i)
        pending.append(start(client, u"status"_s));
    // Every one completes, whatever the daemon did to it.
    for (const auto &completion : pending)
        QVERIFY(failureOf(await(completion)) != "test: no completion"_L1);

    QTRY_COMPARE_WITH_TIMEOUT(daemon.output().count("Chaos: connection"_L1), requests, 5'000);
    const QString output = daemon.output();
    for (const auto event : {"hanging"_L1, "closing"_L1, "garbage"_L1, "error object"_L1, "two pieces"_L1, "1 MiB"_L1})
        QVERIFY2(output.contains(event), qPrintable(event + u" never happened in:\n"_s + output));
    QCOMPARE(daemon.process.state(), QProcess::Running);
}

void TestStandInDaemon::chaosCanEndTheProcess_data()
{
    // Seeds whose first draw ends the process in each of the ways.
    QTest::addColumn<QString>("seed");
    QTest::newRow("exit status") << u"3"_s;
    QTest::newRow("SIGKILL") << u"2"_s;
    QTest::newRow("SIGSEGV") << u"18"_s;
    QTest::newRow("SIGABRT") << u"1"_s;
}

void TestStandInDaemon::chaosCanEndTheProcess()
{
    QFETCH(QString, seed);
    DaemonProcess daemon(m_home->path(), {{u"TORNEL_SIM_CHAOS"_s, seed}, {u"TORNEL_SIM_CHAOS_CRASH_RATE"_s, u"1"_s}});
    QVERIFY(daemon.start());
    IPCClient client(socketPath());

    QCOMPARE(failureOf(call(client, u"status"_s)), u"No response from daemon"_s);
    QVERIFY(daemon.process.waitForFinished(startTimeoutMs));
    // The process ends the way its last line says, not by some other fault.
    const QRegularExpressionMatch said = QRegularExpression(u"Chaos: connection 1: (exiting with status|killed by signal) (\\d+)"_s)
                                             .match(daemon.output());
    QVERIFY2(said.hasMatch(), qPrintable(daemon.output()));
    const bool killed = said.captured(1).startsWith("killed"_L1);
    QCOMPARE(daemon.process.exitStatus(), killed ? QProcess::CrashExit : QProcess::NormalExit);
    QCOMPARE(daemon.process.exitCode(), said.captured(2).toInt());
}

void TestStandInDaemon::rejectsUnusableSettings()
{
    for (const auto &setting : QList<std::pair<QString, QString>>{{u"TORNEL_SIM_FAULT"_s, u"explode"_s},
                                                                  {u"TORNEL_SIM_TICK_MS"_s, u"soon"_s},
                                                                  {u"TORNEL_SIM_CHAOS_RATE"_s, u"2"_s}}) {
        DaemonProcess daemon(m_home->path(), {setting});
        daemon.process.start();
        QVERIFY(daemon.process.waitForFinished(startTimeoutMs));
        QCOMPARE(daemon.process.exitCode(), 2);
        QVERIFY(daemon.process.readAllStandardError().contains(setting.first.toUtf8()));
        QVERIFY(!QFileInfo::exists(socketPath()));
    }
}

QTEST_GUILESS_MAIN(TestStandInDaemon)
#include "test_stand_in_daemon.moc"
