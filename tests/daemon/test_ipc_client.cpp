#include "daemon/ipc_client.h"

#include "scripted_daemon.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <latch>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Test data writes JSON with apostrophes for quotes: readable, and no raw
// strings, whose braces and quotes moc misreads.
QByteArray json(const QByteArray &text)
{
    return QByteArray(text).replace('\'', '"');
}

// What one request's completion received, how often it ran, and where.
struct Completion {
    QSemaphore finished;
    std::atomic<int> calls{0};
    std::mutex mutex;
    IPCResult result;
    QThread *thread = nullptr;
};

std::shared_ptr<Completion> start(IPCClient &client, const QString &method = u"status"_s,
                                  const std::optional<QJsonObject> &params = std::nullopt)
{
    auto completion = std::make_shared<Completion>();
    client.send(method, params, [completion](const IPCResult &result) {
        {
            std::lock_guard lock(completion->mutex);
            completion->result = result;
            completion->thread = QThread::currentThread();
        }
        ++completion->calls;
        completion->finished.release();
    });
    return completion;
}

QString show(const IPCResult &result)
{
    if (const auto *error = std::get_if<IPCError>(&result))
        return u"failure: "_s + error->description();
    const QJsonValue value = std::get<QJsonValue>(result);
    if (value.isUndefined())
        return u"value: undefined"_s;
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return u"value: "_s + QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}

// Waits without spinning an event loop: the completion runs on a worker.
QString outcome(const std::shared_ptr<Completion> &completion, int timeoutMs = 5000)
{
    if (!completion->finished.tryAcquire(1, timeoutMs))
        return u"still pending"_s;
    completion->finished.release();
    std::lock_guard lock(completion->mutex);
    return show(completion->result);
}

QString parserError(const QByteArray &bytes)
{
    QJsonParseError error;
    QJsonDocument::fromJson(bytes, &error);
    return error.error == QJsonParseError::NoError ? QString() : error.errorString();
}

QList<qint64> ids(const ScriptedDaemon &daemon)
{
    QList<qint64> seen;
    for (const QJsonObject &request : daemon.requests())
        seen.append(request.value(u"id"_s).toInteger());
    return seen;
}

int openDescriptors()
{
    DIR *dir = ::opendir("/proc/self/fd");
    int count = 0;
    while (::readdir(dir))
        ++count;
    ::closedir(dir);
    return count;
}

// Takes every free file descriptor but `spare` until destroyed, so that the
// next socket() of this process fails.
class DescriptorExhaustion {
public:
    explicit DescriptorExhaustion(int spare)
    {
        ::getrlimit(RLIMIT_NOFILE, &m_limit);
        rlimit lowered = m_limit;
        lowered.rlim_cur = std::min<rlim_t>(m_limit.rlim_cur, 512);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0; fd = ::fcntl(m_taken.front(), F_DUPFD_CLOEXEC, 0))
            m_taken.push_back(fd);
        for (int i = 0; i < spare && !m_taken.empty(); ++i) {
            ::close(m_taken.back());
            m_taken.pop_back();
        }
    }
    ~DescriptorExhaustion()
    {
        for (int fd : m_taken)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &m_limit);
    }

private:
    rlimit m_limit{};
    std::vector<int> m_taken;
};

} // namespace

class TestIPCClient : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_socketPath = m_dir.filePath(u"d.sock"_s);
    }

    void defaultPathAndConnectFailureConsumeIds()
    {
        qputenv("HOME", m_dir.path().toUtf8());
        IPCClient client;
        const QString expectedPath = m_dir.path() + u"/.tornel/daemon.sock"_s;
        QCOMPARE(client.socketPath(), expectedPath);

        QCOMPARE(outcome(start(client)), u"failure: Failed to connect to daemon at "_s + expectedPath);
        QVERIFY(QDir(m_dir.path()).mkdir(u".tornel"_s));
        ScriptedDaemon daemon(expectedPath);
        QVERIFY(daemon.isListening());
        QCOMPARE(outcome(start(client)), u"value: {}"_s);
        QCOMPARE(outcome(start(client)), u"value: {}"_s);
        QCOMPARE(ids(daemon), (QList<qint64>{2, 3}));
        QCOMPARE(client.requestId(), qint64(3));
    }

    void socketCreationFailureConsumesId()
    {
        ScriptedDaemon daemon(m_socketPath);
        QVERIFY(daemon.isListening());
        IPCClient client(m_socketPath);
        {
            // The client's first request starts a fresh worker, which needs
            // descriptors of its own before the request makes its socket.
            DescriptorExhaustion exhaustion(descriptorsOfNewWorker());
            QCOMPARE(outcome(start(client)), u"failure: Failed to create socket"_s);
        }
        QCOMPARE(outcome(start(client)), u"value: {}"_s);
        QCOMPARE(ids(daemon), QList<qint64>{2});
    }

    void envelopeAndFraming_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QByteArray>("params"); // empty: no params given
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("no params") << u"status"_s << QByteArray()
                                   << json("{'jsonrpc':'2.0','method':'status','id':1}");
        QTest::newRow("params member for member")
            << u"login"_s << json("{'email':'ann@example.org','password':'pä ss','serverUrl':'https://sync.example'}")
            << json("{'jsonrpc':'2.0','method':'login','id':1,"
                    "'params':{'email':'ann@example.org','password':'pä ss','serverUrl':'https://sync.example'}}");
        QTest::newRow("empty params kept") << u"pause"_s << QByteArray("{}")
                                           << json("{'jsonrpc':'2.0','method':'pause','id':1,'params':{}}");
        QTest::newRow("line breaks inside values")
            << u"any method"_s << json("{'note':'two\\nlines\\r\\n','n':[1,{'a':null}]}")
            << json("{'jsonrpc':'2.0','method':'any method','id':1,"
                    "'params':{'note':'two\\nlines\\r\\n','n':[1,{'a':null}]}}");
    }

    void envelopeAndFraming()
    {
        QFETCH(QString, method);
        QFETCH(QByteArray, params);
        QFETCH(QByteArray, expected);
        ScriptedDaemon daemon(m_socketPath);
        IPCClient client(m_socketPath);

        std::optional<QJsonObject> given;
        if (!params.isEmpty())
            given = QJsonDocument::fromJson(params).object();
        QCOMPARE(outcome(start(client, method, given)), u"value: {}"_s);

        QCOMPARE(daemon.requestCount(), qsizetype(1));
        const QByteArray bytes = daemon.receivedBytes().constFirst();
        QVERIFY2(bytes.endsWith('\n') && bytes.count('\n') == 1 && !bytes.contains('\r'), bytes.constData());
        const QJsonObject sent = daemon.requests().constFirst();
        QCOMPARE(sent, QJsonDocument::fromJson(expected).object());
        QCOMPARE(bytes, QJsonDocument(sent).toJson(QJsonDocument::Compact) + '\n');
    }

    // Apostrophes stand for quotes in both columns.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected");

        QTest::newRow("result object") << json("{'jsonrpc':'2.0','id':7,'result':{'state':'synced'}}")
                                       << u"value: {'state':'synced'}"_s;
        QTest::newRow("empty answer") << QByteArray("{}") << u"value: {}"_s;
        QTest::newRow("null result") << json("{'result':null}") << u"value: null"_s;
        QTest::newRow("number result") << json("{'result':3}") << u"value: 3"_s;
        QTest::newRow("array result") << json("{'result':[1,'a']}") << u"value: [1,'a']"_s;
        QTest::newRow("line feed after") << QByteArray("{\"result\":true}\n") << u"value: true"_s;
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF{\"result\":1}") << u"value: 1"_s;

        QTest::newRow("error") << json("{'error':{'code':-1,'message':'Invalid email or password'}}")
                               << u"failure: Invalid email or password"_s;
        QTest::newRow("error wins over result") << json("{'result':{'a':1},'error':{'message':'busy'}}")
                                                << u"failure: busy"_s;
        QTest::newRow("empty error message") << json("{'error':{'message':''},'result':1}") << u"failure: "_s;

        QTest::newRow("error as string") << json("{'error':'boom','result':2}") << u"value: 2"_s;
        QTest::newRow("error without message") << json("{'error':{'code':5},'result':2}") << u"value: 2"_s;
        QTest::newRow("message as number") << json("{'error':{'message':42},'result':2}") << u"value: 2"_s;
        QTest::newRow("message as null") << json("{'error':{'message':null}}") << u"value: {}"_s;
        QTest::newRow("error as null") << json("{'error':null}") << u"value: {}"_s;
        QTest::newRow("error as array") << json("{'error':[{'message':'x'}]}") << u"value: {}"_s;

        QTest::newRow("top level array") << json("[{'result':1}]") << u"failure: Invalid response format"_s;
        QTest::newRow("empty array") << QByteArray("[]") << u"failure: Invalid response format"_s;
    }

    void answers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        ScriptedDaemon daemon(m_socketPath, [&](const QJsonObject &) { return ScriptedDaemon::Reply::answer(answer); });
        IPCClient client(m_socketPath);
        QCOMPARE(outcome(start(client)), expected.replace(u'\'', u'"'));
    }

    // Only an answer cut off needs the daemon to close; every other one is
    // decided by its bytes while the connection stays open.
    void unparsableAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("daemonCloses");
        QTest::newRow("text") << QByteArray("hello\n") << false;
        QTest::newRow("number") << QByteArray("3") << false;
        QTest::newRow("string") << json("'ok'") << false;
        QTest::newRow("null") << QByteArray("null") << false;
        QTest::newRow("garbage after object") << json("{'result':1} x") << false;
        QTest::newRow("mismatched bracket") << json("{'result':[1}}") << false;
        QTest::newRow("cut off, then closed") << json("{'result':") << true;
    }

    void unparsableAnswers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, daemonCloses);
        const QString expected = parserError(answer);
        QVERIFY(!expected.isEmpty());
        ScriptedDaemon daemon(m_socketPath, [&](const QJsonObject &) {
            ScriptedDaemon::Reply reply = ScriptedDaemon::Reply::answer(answer);
            reply.holdOpenMs = daemonCloses ? 0 : 20000;
            return reply;
        });
        IPCClient client(m_socketPath);
        QCOMPARE(outcome(start(client)), u"failure: "_s + expected);
    }

    void answerInTwoPieces_data()
    {
        const QByteArray answer = "\xEF\xBB\xBF" + QJsonDocument(QJsonObject{{u"result"_s, twoPieceResult()}}).toJson(QJsonDocument::Compact);
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<qsizetype>("splitAt");
        QTest::newRow("inside byte order mark") << answer << qsizetype(2);
        QTest::newRow("after opening brace") << answer << qsizetype(4);
        QTest::newRow("after closers in a string") << answer << answer.indexOf("] ") + 1;
        QTest::newRow("after a backslash") << answer << answer.indexOf('\\') + 1;
        QTest::newRow("before the last brace") << answer << answer.size() - 1;
    }

    void answerInTwoPieces()
    {
        QFETCH(QByteArray, answer);
        QFETCH(qsizetype, splitAt);
        ScriptedDaemon daemon(m_socketPath, [&](const QJsonObject &) {
            ScriptedDaemon::Reply reply = ScriptedDaemon::Reply::answer(answer);
            reply.splitAt = splitAt;
            reply.pauseBetweenPiecesMs = 200;
            reply.holdOpenMs = 20000; // the answer must end by its own brackets
            return reply;
        });
        IPCClient client(m_socketPath);
        QCOMPARE(outcome(start(client)), show(QJsonValue(twoPieceResult())));
    }

    void answerSizeLimit_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("exactly 1 MiB") << qsizetype(IPCClient::receiveBufferSize);
        QTest::newRow("one byte more") << qsizetype(IPCClient::receiveBufferSize + 1);
        QTest::newRow("far more") << qsizetype(3 * IPCClient::receiveBufferSize);
    }

    void answerSizeLimit()
    {
        QFETCH(qsizetype, size);
        QByteArray answer = json("{'result':'");
        answer += QByteArray(size - answer.size() - 2, 'a') + "\"}";
        ScriptedDaemon daemon(m_socketPath, [&](const QJsonObject &) { return ScriptedDaemon::Reply::answer(answer); });
        IPCClient client(m_socketPath);

        const QString received = outcome(start(client));
        if (size <= IPCClient::receiveBufferSize)
            QCOMPARE(received, u"value: \""_s + QString(size - 13, u'a') + u'"');
        else
            QCOMPARE(received, u"failure: "_s + parserError(answer.left(IPCClient::receiveBufferSize)));
    }

    void closedWithoutAnswer()
    {
        ScriptedDaemon daemon(m_socketPath, [](const QJsonObject &) { return ScriptedDaemon::Reply::closeWithoutAnswer(); });
        IPCClient client(m_socketPath);
        QCOMPARE(outcome(start(client)), u"failure: No response from daemon"_s);
    }

    void silentDaemonTimesOut()
    {
        ScriptedDaemon daemon(m_socketPath, [](const QJsonObject &) { return ScriptedDaemon::Reply::silent(); });
        IPCClient client(m_socketPath);
        QElapsedTimer waited;
        waited.start();
        QCOMPARE(outcome(start(client), 15000), u"failure: No response from daemon"_s);
        QVERIFY2(waited.elapsed() >= 9500, qPrintable(QString::number(waited.elapsed())));
    }

    void peerClosingBeforeReadingDoesNotKillProcess()
    {
        ScriptedDaemon daemon(m_socketPath);
        daemon.setCloseBeforeReading(true);
        IPCClient client(m_socketPath);
        // Far more than a socket buffer holds, so that the write cannot finish
        // before the daemon has closed; serializing it also gives the daemon
        // time to close before the first byte is written (the broken pipe case).
        const QJsonObject params{{u"blob"_s, QString(4 * IPCClient::receiveBufferSize, u'x')}};
        for (int attempt = 0; attempt < 3; ++attempt)
            QCOMPARE(outcome(start(client, u"login"_s, params)), u"failure: Failed to send request"_s);
    }

    void socketPathThatDoesNotFitIsNotCut_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("fits with terminator") << 107;
        QTest::newRow("fills the field") << 108;
        QTest::newRow("longer than the field") << 150;
    }

    void socketPathThatDoesNotFitIsNotCut()
    {
        QFETCH(int, length);
        const QString directory = m_dir.path() + u'/';
        const QString path = directory + QString(length - directory.size(), u's');
        QCOMPARE(path.toUtf8().size(), length);
        // Listens where a path cut to the address field would lead.
        ScriptedDaemon daemon(path.left(108));
        QVERIFY(daemon.isListening());
        IPCClient client(path);

        const QString received = outcome(start(client));
        if (length < 108) {
            QCOMPARE(received, u"value: {}"_s);
        } else {
            QCOMPARE(received, u"failure: Failed to connect to daemon at "_s + path);
            QCOMPARE(daemon.requestCount(), qsizetype(0));
        }
    }

    void completionRunsOnceOnWorker_data()
    {
        QTest::addColumn<bool>("daemonListening");
        QTest::newRow("answered") << true;
        QTest::newRow("failed") << false;
    }

    void completionRunsOnceOnWorker()
    {
        QFETCH(bool, daemonListening);
        std::optional<ScriptedDaemon> daemon;
        if (daemonListening)
            daemon.emplace(m_socketPath);
        std::shared_ptr<Completion> completion;
        {
            IPCClient client(m_socketPath);
            completion = start(client);
            QVERIFY(outcome(completion) != u"still pending"_s);
        } // the client waits for its requests here
        QCOMPARE(completion->calls.load(), 1);
        QVERIFY(completion->thread != nullptr);
        QVERIFY(completion->thread != QThread::currentThread());
    }

    void concurrentRequestsCarryDistinctIds()
    {
        constexpr int senders = 12;
        ScriptedDaemon daemon(m_socketPath, [](const QJsonObject &request) {
            ScriptedDaemon::Reply reply = ScriptedDaemon::Reply::result(request.value(u"id"_s));
            reply.delayMs = 200;
            return reply;
        });
        IPCClient client(m_socketPath);

        std::latch ready(senders);
        std::vector<std::shared_ptr<Completion>> completions(senders);
        std::vector<std::thread> threads;
        for (int i = 0; i < senders; ++i) {
            threads.emplace_back([&, i] {
                ready.arrive_and_wait();
                completions[size_t(i)] = start(client);
            });
        }
        for (std::thread &thread : threads)
            thread.join();

        QList<int> answered;
        for (const auto &completion : completions)
            answered.append(outcome(completion).remove(u"value: "_s).toInt());
        std::sort(answered.begin(), answered.end());
        QList<int> expected(senders);
        std::iota(expected.begin(), expected.end(), 1);
        QCOMPARE(answered, expected);
        QCOMPARE(client.requestId(), qint64(senders));
        QVERIFY(daemon.maxConcurrentConnections() > 1);
    }

    void stuckRequestsDoNotDelayLaterOnes()
    {
        constexpr int stuck = 6; // a poll every 2 s while each waits 10 s
        IPCClient client(m_socketPath);
        auto daemon = std::make_unique<ScriptedDaemon>(m_socketPath, [](const QJsonObject &request) {
            return request.value(u"method"_s) == u"status"_s ? ScriptedDaemon::Reply::silent()
                                                             : ScriptedDaemon::Reply::result(u"done"_s);
        });
        std::vector<std::shared_ptr<Completion>> polls;
        for (int i = 0; i < stuck; ++i)
            polls.push_back(start(client));
        QTRY_COMPARE(daemon->requestCount(), qsizetype(stuck));

        QCOMPARE(outcome(start(client, u"login"_s, QJsonObject{{u"email"_s, u"a@b"_s}})), u"value: \"done\""_s);
        QCOMPARE(outcome(start(client, u"pause"_s)), u"value: \"done\""_s);

        daemon.reset(); // closes the held connections
        for (const auto &poll : polls)
            QCOMPARE(outcome(poll), u"failure: No response from daemon"_s);
    }

private:
    // Brackets and an escaped quote inside a string must not end the answer.
    static QJsonObject twoPieceResult()
    {
        return QJsonObject{{u"note"_s, u"} ] \" { ["_s}, {u"list"_s, QJsonArray{1, QJsonObject{{u"x"_s, QJsonArray()}}}}};
    }

    // How many descriptors a worker thread opens when it starts.
    static int descriptorsOfNewWorker()
    {
        const int before = openDescriptors();
        std::atomic<int> during{0};
        QThreadPool pool;
        pool.start([&] { during = openDescriptors(); });
        pool.waitForDone();
        return during - before;
    }

    QTemporaryDir m_dir;
    QString m_socketPath;
};

QTEST_GUILESS_MAIN(TestIPCClient)
#include "test_ipc_client.moc"
