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
    // Writes `bytes` (in two pieces 100 ms apart when splitAt > 0), then closes.
    struct Reply {
        QByteArray bytes;
        qsizetype splitAt = 0;
        int delayMs = 0;    // before answering
        int holdOpenMs = 0; // after answering, before closing

        static Reply answer(QByteArray bytes) { return {std::move(bytes)}; }
        static Reply result(const QJsonValue &value);
        static Reply error(const QString &message);
        static Reply closeWithoutAnswer() { return {}; }
        // Holds the connection open, unanswered, for longer than a client waits.
        static Reply silent() { return {{}, 0, 0, 30000}; }
    };
    using Responder = std::function<Reply(const QJsonObject &request)>;

    // Listens at `socketPath` (its directory must exist). A path may fill the
    // whole address field without a terminating zero, as Linux allows.
    explicit ScriptedDaemon(QString socketPath, Responder responder = {});
    ~ScriptedDaemon();

    Q_DISABLE_COPY_MOVE(ScriptedDaemon)

    bool isListening() const { return m_listenFd >= 0; }
    void setResponder(Responder responder);
    // Accept connections and close them at once, without reading.
    void setCloseBeforeReading(bool close) { m_closeBeforeReading = close; }

    // Each request's bytes as they arrived (line feed included), and parsed.
    QList<QByteArray> receivedBytes() const;
    QList<QJsonObject> requests() const;
    qsizetype requestCount() const { return receivedBytes().size(); }
    QStringList methods() const;

    // A standard "status" result for tests that need a well-formed record.
    static QJsonObject statusRecord(const QString &state, qint64 uploads = 0, qint64 downloads = 0);

private:
    void acceptLoop();
    void serve(int fd);
    bool sleepUnlessStopping(int ms) const;

    QString m_socketPath;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_closeBeforeReading{false};
    mutable std::mutex m_mutex;
    Responder m_responder;
    QList<QByteArray> m_receivedBytes;
    std::vector<std::thread> m_connections;
    std::thread m_acceptThread;
};
