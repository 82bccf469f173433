#include "daemon/ipc_client.h"

#include "ipc_call.h"
#include "scripted_daemon.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Reply = ScriptedDaemon::Reply;

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

} // namespace

class TestIPCClient : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_socketPath = m_dir.filePath(u"d.sock"_s);
    }

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
                std::optional<QJsonObject> given;
                if (!params.isEmpty())
                    given = QJsonDocument::fromJson(params).object();
                calls << startCall(client, u"login"_s, given);
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

    // The receiving loop; `holdOpen`: the daemon keeps the connection open, so
    // the answer must end by its own bytes.
    void receiving_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<qsizetype>("splitAt");
        QTest::addColumn<bool>("holdOpen");
        QTest::addColumn<QString>("expected");
        const QByteArray pieces = "\xEF\xBB\xBF" + json("{'result':{'note':'} ] \\' { [','list':[1,{'x':[]}]}}");
        QTest::newRow("in two pieces, split after closers in a string")
            << pieces << pieces.indexOf("] ") + 1 << true
            << QString::fromUtf8(json("value: {'list':[1,{'x':[]}],'note':'} ] \\' { ['}"));
        QTest::newRow("unparsable") << QByteArray("hello\n") << qsizetype(0) << true << parserFailure("hello\n");
        QTest::newRow("cut off, then closed") << json("{'result':") << qsizetype(0) << false
                                              << parserFailure(json("{'result':"));
        QTest::newRow("closed without answer") << QByteArray() << qsizetype(0) << false
                                               << u"failure: No response from daemon"_s;
        for (const qsizetype size : {IPCClient::receiveBufferSize, IPCClient::receiveBufferSize + 1}) {
            const QByteArray answer = json("{'result':'") + QByteArray(size - 13, 'a') + "\"}";
            const bool fits = size == IPCClient::receiveBufferSize;
            QTest::addRow("%s 1 MiB", fits ? "exactly" : "one byte over")
                << answer << qsizetype(0) << false
                << (fits ? u"value: \""_s + QString(size - 13, u'a') + u'"'
                         : parserFailure(answer.left(IPCClient::receiveBufferSize)));
        }
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

    void concurrentRequestsCarryDistinctIds()
    {
        // Each worker takes its id as it starts: twelve at once race for them
        // (that workers run at once, the silent daemon below shows).
        ScriptedDaemon daemon(m_socketPath, [](const QJsonObject &request) {
            Reply reply = Reply::result(request.value(u"id"_s));
            reply.delayMs = 200;
            return reply;
        });
        IPCClient client(m_socketPath);
        QList<std::shared_ptr<IPCCall>> calls;
        for (int i = 0; i < 12; ++i)
            calls << startCall(client, u"status"_s);
        QSet<QString> answered;
        for (const auto &call : calls)
            answered << outcome(call);
        QCOMPARE(answered.size(), 12);
    }

    void silentDaemonTimesOutWithoutHoldingUpOthers()
    {
        constexpr int stuck = 6; // a poll every 2 s while each waits 10 s
        ScriptedDaemon daemon(m_socketPath, [](const QJsonObject &request) {
            return request.value(u"method"_s) == u"status"_s ? Reply::silent() : Reply::result(u"done"_s);
        });
        IPCClient client(m_socketPath);
        QElapsedTimer waited;
        waited.start();
        QList<std::shared_ptr<IPCCall>> polls;
        for (int i = 0; i < stuck; ++i)
            polls << startCall(client, u"status"_s);
        QTRY_COMPARE(daemon.requestCount(), qsizetype(stuck));

        QCOMPARE(outcome(startCall(client, u"pause"_s)), u"value: \"done\""_s);
        for (const auto &poll : polls)
            QCOMPARE(outcome(poll, 15000), u"failure: No response from daemon"_s);
        QVERIFY2(waited.elapsed() >= 9500, qPrintable(QString::number(waited.elapsed())));
    }

private:
    QTemporaryDir m_dir;
    QString m_socketPath;
};

QTEST_GUILESS_MAIN(TestIPCClient)
#include "test_ipc_client.moc"
