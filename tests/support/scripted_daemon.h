#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// An in-test daemon on a real Unix-domain socket. Each connection is served
// on its own thread: it reads one request line and answers as scripted.
class ScriptedDaemon {
public:
    struct Reply {
        enum class Kind {
            Answer,             // write `bytes` (in two pieces when splitAt > 0)
            CloseWithoutAnswer, // read the request, then close
            Silent,             // read the request, then hold the connection open
        };
        Kind kind = Kind::Answer;
        QByteArray bytes;
        qsizetype splitAt = 0;
        int pauseBetweenPiecesMs = 50;
        int delayMs = 0;    // before answering
        int holdOpenMs = 0; // after answering, before closing

        static Reply answer(QByteArray bytes) { return {Kind::Answer, std::move(bytes)}; }
        static Reply result(const QJsonValue &value);
        static Reply error(const QString &message);
        static Reply closeWithoutAnswer() { return {Kind::CloseWithoutAnswer, {}}; }
        static Reply silent() { return {Kind::Silent, {}}; }
    };
    using Responder = std::function<Reply(const QJsonObject &request)>;

    // Listens at `socketPath` (its directory must exist). A path may fill the
    // whole address field without a terminating zero, as Linux allows.
    explicit ScriptedDaemon(QString socketPath, Responder responder = {});
    ~ScriptedDaemon();

    ScriptedDaemon(const ScriptedDaemon &) = delete;
    ScriptedDaemon &operator=(const ScriptedDaemon &) = delete;

    bool isListening() const { return m_listenFd >= 0; }
    void setResponder(Responder responder);
    // Accept connections and close them at once, without reading.
    void setCloseBeforeReading(bool close) { m_closeBeforeReading = close; }

    // Raw request lines (without the line feed) and their parsed objects.
    QList<QByteArray> rawRequests() const;
    QList<QJsonObject> requests() const;
    qsizetype requestCount() const;
    QStringList methods() const;
    // The bytes of each request as they arrived, line feed and anything sent
    // with it included.
    QList<QByteArray> receivedBytes() const;
    // The most connections that were being served at one time.
    int maxConcurrentConnections() const { return m_maxConcurrent; }

    // A standard "status" result for tests that need a well-formed record.
    static QJsonObject statusRecord(const QString &state, qint64 uploads = 0, qint64 downloads = 0);

private:
    void acceptLoop();
    void serve(int fd);
    Reply respond(const QJsonObject &request);
    bool sleepUnlessStopping(int ms) const;

    QString m_socketPath;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_closeBeforeReading{false};
    mutable std::mutex m_mutex;
    Responder m_responder;
    QList<QByteArray> m_rawRequests;
    QList<QByteArray> m_receivedBytes;
    std::atomic<int> m_concurrent{0};
    std::atomic<int> m_maxConcurrent{0};
    std::vector<std::thread> m_connections;
    std::thread m_acceptThread;
};
