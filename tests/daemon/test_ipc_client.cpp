#include "daemon/ipc_client.h"
#include "daemon/status_response.h"

#include "ipc_call.h"
#include "scripted_daemon.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Reply = ScriptedDaemon::Reply;
using Decoded = std::optional<StatusResponse>;
Q_DECLARE_METATYPE(Decoded)

namespace {

// Test data writes JSON with apostrophes for quotes: moc misreads raw strings.
QByteArray json(const QByteArray &text)
{
    return QByteArray(text).replace('\'', '"');
}

// The parser's own refusal, which the client passes on unchanged.
QString parserFailure(const QByteArray &bytes)
{
    QJsonParseError error;
    QJsonDocument::fromJson(bytes, &error);
    return u"failure: "_s + error.errorString();
}

// A record with the required keys only, `changes` put over it and `removed` taken out.
QJsonObject recordWith(const QByteArray &changes, const QString &removed = {})
{
    QJsonObject record = ScriptedDaemon::statusRecord(u"synced"_s);
    const QJsonObject overrides = QJsonDocument::fromJson(json(changes)).object();
    for (auto it = overrides.begin(); it != overrides.end(); ++it)
        record.insert(it.key(), it.value());
    record.remove(removed);
    return record;
}

StatusResponse decoded(SyncStatus state, qint64 uploads = 0, qint64 downloads = 0)
{
    return {state, uploads, downloads, {}, u"~/Tornel"_s, u"http://localhost:8080"_s, {}, {}};
}

} // namespace

char *toString(const Decoded &r)
{
    const auto text = [](const std::optional<QString> &value) { return value ? u'"' + *value + u'"' : u"absent"_s; };
    return QTest::toString(!r ? u"refused"_s : u"%1 up %2 down %3 last %4 folder %5 server %6 user %7 error %8"_s.arg(
        wireName(r->state), QString::number(r->pendingUploads), QString::number(r->pendingDownloads), text(r->lastSync),
        text(r->syncFolder), text(r->serverUrl), text(r->userEmail), text(r->errorMessage)));
}

class TestIPCClient : public QObject {
    Q_OBJECT

private slots:
    // Ids count from 1, failures use theirs, and each request is one compact
    // line with "params" only when given.
    void idsAndFraming()
    {
        qputenv("HOME", m_dir.path().toUtf8());
        const QString defaultPath = m_dir.path() + u"/.tornel/daemon.sock"_s;
        std::optional<ScriptedDaemon> daemon;
        QList<std::shared_ptr<IPCCall>> calls;
        {
            IPCClient client;
            QCOMPARE(client.socketPath(), defaultPath);
            calls << startCall(client, u"status"_s);
            QCOMPARE(outcome(calls.last()), u"failure: Failed to connect to daemon at "_s + defaultPath);
            QVERIFY(QDir(m_dir.path()).mkdir(u".tornel"_s));
            daemon.emplace(defaultPath);
            for (const QByteArray &params : {QByteArray(), QByteArray("{}"), json("{'note':'two\\nlines\\r\\n'}")}) {
                const QJsonObject given = QJsonDocument::fromJson(params).object();
                calls << startCall(client, u"login"_s, params.isEmpty() ? std::nullopt : std::optional(given));
                QCOMPARE(outcome(calls.last()), u"value: {}"_s);
            }
        } // the client waits for its workers here: a second call would have come
        QCOMPARE(daemon->receivedBytes(),
                 (QByteArrayList{json("{'id':2,'jsonrpc':'2.0','method':'login'}\n"),
                                 json("{'id':3,'jsonrpc':'2.0','method':'login','params':{}}\n"),
                                 json("{'id':4,'jsonrpc':'2.0','method':'login','params':{'note':'two\\nlines\\r\\n'}}\n")}));
        for (const auto &call : calls) {
            QCOMPARE(call->calls.load(), 1);
            QVERIFY(call->thread && call->thread != QThread::currentThread());
        }
    }

    // Apostrophes stand for quotes; "parser" for the parser's own message.
    void interpretAnswer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected");
        QTest::newRow("result") << QByteArray("{'jsonrpc':'2.0','id':7,'result':3}") << u"value: 3"_s;
        QTest::newRow("result absent") << QByteArray("{}") << u"value: {}"_s;
        QTest::newRow("result null") << QByteArray("{'result':null}") << u"value: null"_s;
        QTest::newRow("error message") << QByteArray("{'error':{'code':-1,'message':'Invalid'}}") << u"failure: Invalid"_s;
        QTest::newRow("error wins over result") << QByteArray("{'result':1,'error':{'message':'busy'}}") << u"failure: busy"_s;
        QTest::newRow("empty error message") << QByteArray("{'error':{'message':''},'result':1}") << u"failure: "_s;
        QTest::newRow("error as string ignored") << QByteArray("{'error':'boom','result':2}") << u"value: 2"_s;
        QTest::newRow("message not a string ignored") << QByteArray("{'error':{'message':42},'result':2}") << u"value: 2"_s;
        QTest::newRow("top level array") << QByteArray("[{'result':1}]") << u"failure: Invalid response format"_s;
        QTest::newRow("not JSON") << QByteArray("hello\n") << u"parser"_s;
        QTest::newRow("garbage after the object") << QByteArray("{'result':1} x") << u"parser"_s;
    }

    void interpretAnswer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        answer = json(answer);
        expected = expected == "parser"_L1 ? parserFailure(answer) : expected.replace(u'\'', u'"');
        QCOMPARE(describe(IPCClient::interpretAnswer(answer)), expected);
    }

    // Whether the client must keep reading: only the top-level brackets outside strings count.
    void answerMayContinue_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("mayContinue");
        QTest::newRow("nothing yet") << QByteArray() << true;
        QTest::newRow("blanks, then open") << QByteArray(" \r\n\t{") << true;
        QTest::newRow("part of a byte order mark") << QByteArray("\xEF\xBB") << true;
        QTest::newRow("byte order mark, then open") << QByteArray("\xEF\xBB\xBF[") << true;
        QTest::newRow("closed object") << QByteArray("{}") << false;
        QTest::newRow("inner value closed") << QByteArray("[{'a':[]}") << true;
        QTest::newRow("outer array closed") << QByteArray("[{'a':[]}]") << false;
        QTest::newRow("closers inside a string") << QByteArray("{'a':'} ]") << true;
        QTest::newRow("escaped quote inside a string") << QByteArray("{'a':'\\'}") << true;
        QTest::newRow("escaped backslash ends no string") << QByteArray("{'a':'\\\\'}") << false;
        QTest::newRow("scalar") << QByteArray("3") << false;
        QTest::newRow("mismatched closer") << QByteArray("{'a':[1}") << false;
    }

    void answerMayContinue()
    {
        QFETCH(QByteArray, received);
        QFETCH(bool, mayContinue);
        QCOMPARE(IPCClient::answerMayContinue(json(received)), mayContinue);
    }

    // The status record: a complete one or nothing.
    void decodeStatus_data()
    {
        QTest::addColumn<QJsonValue>("result");
        QTest::addColumn<Decoded>("expected");
        const auto row = [](const char *name, const char *changes, const Decoded &expected) {
            QTest::newRow(name) << QJsonValue(recordWith(changes)) << expected;
        };
        const QString folder = u"~/Tornel"_s, server = u"http://localhost:8080"_s;
        row("required keys only", "{}", decoded(SyncStatus::synced));
        row("every key", "{'state':'error','pendingUploads':4,'pendingDownloads':2,'lastSync':'2024-05-01T10:00:00Z',"
                         "'userEmail':'ann@example.org','errorMessage':'Disk full'}",
            StatusResponse{SyncStatus::error, 4, 2, u"2024-05-01T10:00:00Z"_s, folder, server, u"ann@example.org"_s,
                           u"Disk full"_s});
        row("optional keys null", "{'lastSync':null,'userEmail':null,'errorMessage':null}", decoded(SyncStatus::synced));
        row("logged out, strings empty",
            "{'state':'logged_out','syncFolder':'','serverUrl':'','lastSync':'','userEmail':'','errorMessage':''}",
            StatusResponse{SyncStatus::loggedOut, 0, 0, u""_s, u""_s, u""_s, u""_s, u""_s});
        row("syncing", "{'state':'syncing'}", decoded(SyncStatus::syncing));
        row("paused", "{'state':'paused'}", decoded(SyncStatus::paused));
        row("counts as 3.0 and 1e2", "{'pendingUploads':3.0,'pendingDownloads':1e2}", decoded(SyncStatus::synced, 3, 100));
        row("counts at the 64-bit limits", "{'pendingUploads':9223372036854775807,'pendingDownloads':-9223372036854775808}",
            decoded(SyncStatus::synced, std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()));
        row("unknown keys ignored", "{'State':'bogus','serverURL':5,'extra':{'n':[1]}}", decoded(SyncStatus::synced));

        for (const QString &key : {u"state"_s, u"pendingUploads"_s, u"pendingDownloads"_s, u"syncFolder"_s, u"serverUrl"_s})
            QTest::addRow("%s missing", qPrintable(key)) << QJsonValue(recordWith("{}", key)) << Decoded();
        row("folder null", "{'syncFolder':null}", {});
        row("count null", "{'pendingDownloads':null}", {});
        row("state as case name", "{'state':'loggedOut'}", {});
        row("state in other case", "{'state':'Synced'}", {});
        row("state as number", "{'state':1}", {});
        row("count as string", "{'pendingUploads':'3'}", {});
        row("count with fraction", "{'pendingUploads':3.5}", {});
        row("count past int64 max", "{'pendingDownloads':9223372036854775808}", {});
        row("count past int64 min", "{'pendingDownloads':-9999999999999999999}", {});
        row("folder as number", "{'syncFolder':0}", {});
        row("lastSync as number", "{'lastSync':1714557600}", {});
        row("userEmail as number", "{'userEmail':1}", {});
        row("errorMessage as bool", "{'errorMessage':false}", {});
        QTest::newRow("result null") << QJsonValue(QJsonValue::Null) << Decoded();
        QTest::newRow("result a string") << QJsonValue(u"synced"_s) << Decoded();
        QTest::newRow("result an array holding a record") << QJsonValue(QJsonArray{recordWith("{}")}) << Decoded();
    }

    void decodeStatus()
    {
        QFETCH(QJsonValue, result);
        QFETCH(Decoded, expected);
        QCOMPARE(StatusResponse::decode(result), expected);
    }

    // The receiving loop; `holdOpen`: the daemon keeps the connection open, so
    // the answer must end by its own bytes.
    void receiving_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<qsizetype>("splitAt");
        QTest::addColumn<bool>("holdOpen");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &answer, bool holdOpen, const QString &expected) {
            QTest::newRow(name) << answer << qsizetype(0) << holdOpen << expected;
        };
        const QByteArray pieces = "\xEF\xBB\xBF" + json("{'result':{'note':'} ] \\' { [','list':[1,{'x':[]}]}}");
        QTest::newRow("in two pieces, split after closers in a string")
            << pieces << pieces.indexOf("] ") + 1 << true
            << QString::fromUtf8(json("value: {'list':[1,{'x':[]}],'note':'} ] \\' { ['}"));
        row("unparsable", "hello\n", true, parserFailure("hello\n"));
        row("cut off, then closed", json("{'result':"), false, parserFailure(json("{'result':")));
        row("closed without answer", {}, false, u"failure: No response from daemon"_s);
        const QByteArray exactly = json("{'result':'") + QByteArray(IPCClient::receiveBufferSize - 13, 'a') + "\"}";
        row("exactly 1 MiB", exactly, true, u"value: \""_s + QString(exactly.size() - 13, u'a') + u'"');
        const QByteArray over = exactly.chopped(2) + "a\"}";
        row("one byte over 1 MiB", over, true, parserFailure(over.first(IPCClient::receiveBufferSize)));
    }

    void receiving()
    {
        QFETCH(QByteArray, answer);
        QFETCH(qsizetype, splitAt);
        QFETCH(bool, holdOpen);
        QFETCH(QString, expected);
        ScriptedDaemon daemon(m_socketPath, [&](const QJsonObject &) {
            Reply reply = Reply::answer(answer);
            reply.splitAt = splitAt;
            reply.holdOpenMs = holdOpen ? 20000 : 0;
            return reply;
        });
        IPCClient client(m_socketPath);
        QCOMPARE(outcome(startCall(client, u"status"_s)), expected);
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
            QCOMPARE(outcome(startCall(client, u"login"_s, params)), u"failure: Failed to send request"_s);
    }

    void socketPathThatDoesNotFitIsNotCut()
    {
        // 107 bytes fit with the terminating zero; 108 fill the field and would be cut.
        for (const int length : {107, 108}) {
            const QString path = m_dir.path() + u'/' + QString(length - m_dir.path().size() - 1, u's');
            ScriptedDaemon daemon(path.left(108)); // where a path cut to the field would lead
            QVERIFY(daemon.isListening());
            IPCClient client(path);
            QCOMPARE(outcome(startCall(client, u"status"_s)),
                     length < 108 ? u"value: {}"_s : u"failure: Failed to connect to daemon at "_s + path);
        }
    }

    // A socket, or a listener, of another user is told nothing: the login
    // would hand it the password. Playing the other user takes root.
    void foreignSocketIsNotSpokenTo_data()
    {
        QTest::addColumn<bool>("listenerForeign"); // else the socket file is another user's
        QTest::newRow("the socket is another user's") << false;
        QTest::newRow("another user listens") << true;
    }

    void foreignSocketIsNotSpokenTo()
    {
        QFETCH(bool, listenerForeign);
        constexpr uid_t nobody = 65534;
        IPCClient client(m_socketPath);
        const QString refused = u"failure: The daemon's socket at %1 belongs to another user"_s.arg(m_socketPath);
        if (!listenerForeign) {
            ScriptedDaemon daemon(m_socketPath);
            if (::chown(QFile::encodeName(m_socketPath).constData(), nobody, nobody) != 0)
                QSKIP("only root, with other users mapped, can play another user");
            QCOMPARE(outcome(startCall(client, u"login"_s, QJsonObject{{u"password"_s, u"secret"_s}})), refused);
            QCOMPARE(daemon.requestCount(), 0);
            return;
        }
        // The kernel records who listens when listen() is called: after the switch of user.
        const QString probe = m_dir.filePath(u"probe"_s);
        if (!QFile(probe).open(QIODevice::WriteOnly) || ::chown(QFile::encodeName(probe).constData(), nobody, nobody) != 0)
            QSKIP("only root, with other users mapped, can play another user");
        const QByteArray path = QFile::encodeName(m_socketPath);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            // The system calls themselves: the C library's wrappers would first
            // synchronise threads that were not forked along.
            if (::syscall(SYS_setgid, nobody) != 0 || ::syscall(SYS_setuid, nobody) != 0 || ::listen(listener, 1) != 0)
                ::_exit(2);
            const int connection = ::accept(listener, nullptr, nullptr);
            char byte = 0;
            ::_exit(::read(connection, &byte, 1) == 0 ? 0 : 1); // 0: closed with nothing sent
        }
        ::close(listener);
        QTRY_VERIFY(QFile::exists(m_socketPath));
        // Connecting before the child listens fails; try until it does (once: it accepts one connection).
        QString answered;
        for (QElapsedTimer waited; !waited.isValid() || waited.elapsed() < 5000; QTest::qWait(50)) {
            waited.isValid() ? void() : waited.start();
            answered = outcome(startCall(client, u"login"_s));
            if (!answered.startsWith(u"failure: Failed to connect"_s))
                break;
        }
        QCOMPARE(answered, refused);
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QFile::remove(m_socketPath);
    }

    void silentDaemonHoldsUpNoOtherRequest()
    {
        // Polls stuck on a silent daemon (one every 2 s, each waiting 10 s) hold up
        // none of the requests after them, which run at once with distinct ids.
        ScriptedDaemon daemon(m_socketPath, [](const QJsonObject &request) {
            Reply reply = request.value(u"method"_s) == u"status"_s ? Reply::silent() : Reply::result(request.value(u"id"_s));
            reply.delayMs = reply.holdOpenMs ? 0 : 200;
            return reply;
        });
        IPCClient client(m_socketPath);
        QElapsedTimer waited;
        waited.start();
        QList<std::shared_ptr<IPCCall>> polls, others;
        for (int i = 0; i < 6; ++i)
            polls << startCall(client, u"status"_s);
        QTRY_COMPARE(daemon.requestCount(), qsizetype(6));
        for (int i = 0; i < 8; ++i)
            others << startCall(client, u"pause"_s);
        QStringList answered;
        for (const auto &call : others)
            answered << outcome(call);
        answered.sort();
        QCOMPARE(answered.join(u' '), u"value: 10 value: 11 value: 12 value: 13 value: 14 value: 7 value: 8 value: 9"_s);
        for (const auto &poll : polls)
            QCOMPARE(outcome(poll, 15000), u"failure: No response from daemon"_s);
        QVERIFY2(waited.elapsed() >= 9500, qPrintable(QString::number(waited.elapsed())));
    }

private:
    QTemporaryDir m_dir;
    const QString m_socketPath = m_dir.filePath(u"d.sock"_s);
};

QTEST_GUILESS_MAIN(TestIPCClient)
#include "test_ipc_client.moc"
