#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

// A failed daemon request. The client's own failures, the JSON parser's
// refusals and the daemon's own error answers all travel as this type; what
// users see is `description()`, and `kind` tells who failed.
struct IPCError {
    enum class Kind {
        // Nothing listens on the socket (yet): the connect failed.
        cannotConnect,
        // Connected, but the exchange failed: no answer, cut off, unreadable.
        exchange,
        // The daemon answered, with an error of its own.
        daemon,
        // The socket, or whoever listens on it, belongs to another user: nothing was sent.
        foreignSocket,
    };

    QString message;
    Kind kind = Kind::exchange;

    QString description() const { return message; }
    bool operator==(const IPCError &) const = default;
};

// The outcome of one request: the answer's "result" value, or the failure.
using IPCResult = std::variant<QJsonValue, IPCError>;
using IPCCompletion = std::function<void(const IPCResult &)>;

// Sends one JSON request per connection to the daemon's Unix-domain socket.
// `send` returns at once; the blocking exchange runs on a worker of the
// client's own thread pool, and the completion is called exactly once there.
class IPCClient {
public:
    static constexpr int receiveBufferSize = 1024 * 1024;
    // How long the connect may take, and then how long the answer.
    static constexpr std::chrono::seconds timeout{10};

    // The socket is at the home directory + "/.tornel/daemon.sock".
    IPCClient();
    explicit IPCClient(QString socketPath);
    // Waits for requests still running (each is bounded by the receive timeout).
    ~IPCClient();

    IPCClient(const IPCClient &) = delete;
    IPCClient &operator=(const IPCClient &) = delete;

    QString socketPath() const { return m_shared->socketPath; }

    void send(const QString &method, const std::optional<QJsonObject> &params, IPCCompletion completion);

    // What a complete answer means: the parser's error, "Invalid response
    // format", the daemon's own "error" message, or the "result" value.
    static IPCResult interpretAnswer(const QByteArray &answer);

    // Whether more bytes could still turn `received` into one JSON text: false
    // once its top-level brackets close, or once no further byte can mend it
    // (it starts with anything but a bracket, or a closer does not match).
    static bool answerMayContinue(const QByteArray &received);

private:
    struct Shared {
        QString socketPath;
        std::atomic<qint64> requestId{0};
    };

    static IPCResult sendSync(Shared &shared, const QString &method, const std::optional<QJsonObject> &params);

    std::shared_ptr<Shared> m_shared;
    QThreadPool m_pool;
};
