#include "daemon/ipc_client.h"

#include "platform/peer_credentials.h"
#include "platform/posix_io.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRunnable>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Enough workers that requests stuck on a silent daemon (10 s each, a new
// poll every 2 s) never hold up a login or a poll queued behind them.
constexpr int maxWorkers = 16;

class SocketCloser {
public:
    explicit SocketCloser(int fd) : m_fd(fd) {}
    ~SocketCloser() { ::close(m_fd); }
    SocketCloser(const SocketCloser &) = delete;
    SocketCloser &operator=(const SocketCloser &) = delete;

private:
    int m_fd;
};

using Clock = std::chrono::steady_clock;

// What is left until `deadline` as a socket timeout; zero once it has passed,
// which a socket would read as "wait for ever", so callers stop on it.
timeval timeLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0)
        return {};
    return {time_t(left.count() / 1'000'000), suseconds_t(left.count() % 1'000'000)};
}

bool connectTo(int fd, const QString &socketPath)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray path = socketPath.toUtf8();
    // A path that does not fit would be cut and could reach another socket.
    if (path.size() >= qsizetype(sizeof(address.sun_path)) || path.contains('\0'))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    // A daemon that is alive but does not accept (stopped, or its listen queue
    // full) would hold a plain connect forever, and with it a worker of the
    // pool. A Unix-domain connect waits no longer than the send timeout.
    const auto deadline = Clock::now() + IPCClient::timeout;
    for (;;) {
        const timeval left = timeLeft(deadline);
        if (left.tv_sec == 0 && left.tv_usec == 0)
            return false;
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &left, sizeof(left));
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0)
            return true;
        // A call with a timeout is not restarted after a signal handler ran.
        if (errno != EINTR)
            return errno == EISCONN;
    }
}

// Follows a JSON text as its bytes arrive, tracking only the nesting outside
// strings: the top-level value is complete once its bracket closes, and broken
// when it starts with anything but a bracket or a closer does not match.
// Incremental, so a daemon that writes its answer in many small pieces does
// not cost a rescan of the whole buffer per piece.
class AnswerScanner {
public:
    // False once no further byte can change whether the bytes so far parse.
    bool feed(const char *data, qsizetype size)
    {
        for (qsizetype i = 0; i < size && !m_finished; ++i)
            m_finished = !accept(data[i]);
        return !m_finished;
    }

private:
    bool accept(char c)
    {
        if (m_inString) {
            if (m_escaped)
                m_escaped = false;
            else if (c == '\\')
                m_escaped = true;
            else if (c == '"')
                m_inString = false;
            return true;
        }
        if (m_open.empty()) {
            // The parser accepts a UTF-8 byte order mark before the text.
            static constexpr char bom[] = "\xEF\xBB\xBF";
            if (m_bomBytes == m_offset && m_bomBytes < 3 && c == bom[m_bomBytes]) {
                ++m_bomBytes;
                ++m_offset;
                return true;
            }
            ++m_offset;
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
                return true;
            if (c != '{' && c != '[')
                return false;
        }
        switch (c) {
        case '"':
            m_inString = true;
            return true;
        case '{':
        case '[':
            m_open.push_back(c);
            return true;
        case '}':
        case ']':
            if (m_open.back() != (c == '}' ? '{' : '['))
                return false;
            m_open.pop_back();
            return !m_open.empty();
        default:
            return true;
        }
    }

    std::vector<char> m_open;
    qsizetype m_offset = 0;
    qsizetype m_bomBytes = 0;
    bool m_inString = false;
    bool m_escaped = false;
    bool m_finished = false;
};

// Receives until the bytes form one complete JSON text, cannot become one, the
// peer closes, the limit is reached, or the deadline passes. The buffer grows
// as bytes arrive, without being cleared, so the usual answer of a few hundred
// bytes costs one small allocation rather than the whole limit.
QByteArray receiveAnswer(int fd)
{
    constexpr qsizetype firstSize = 4096;
    const auto deadline = Clock::now() + IPCClient::timeout;
    AnswerScanner scanner;
    QByteArray buffer;
    qsizetype received = 0;
    for (;;) {
        if (received == buffer.size()) {
            if (received >= IPCClient::receiveBufferSize)
                break;
            buffer.resize(qMin(qMax(firstSize, 2 * received), qsizetype(IPCClient::receiveBufferSize)));
        }
        const timeval left = timeLeft(deadline);
        if (left.tv_sec == 0 && left.tv_usec == 0)
            break;
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &left, sizeof(left));
        const ssize_t n = ::recv(fd, buffer.data() + received, size_t(buffer.size() - received), 0);
        // A receive with a timeout is not restarted after a signal handler ran.
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 1)
            break;
        const bool mayContinue = scanner.feed(buffer.constData() + received, n);
        received += n;
        if (!mayContinue)
            break;
    }
    buffer.truncate(received);
    return buffer;
}

bool ownedByAnotherUser(const QString &socketPath)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(socketPath).constData(), &info) == 0 && info.st_uid != ::geteuid();
}

IPCError foreignSocket(const QString &socketPath)
{
    return {QCoreApplication::translate("IPCClient", "The daemon's socket at %1 belongs to another user").arg(socketPath),
            IPCError::Kind::foreignSocket};
}

} // namespace

IPCClient::IPCClient() : IPCClient(QDir::homePath() + QStringLiteral("/.tornel/daemon.sock")) {}

IPCClient::IPCClient(QString socketPath) : m_shared(std::make_shared<Shared>())
{
    m_shared->socketPath = std::move(socketPath);
    m_pool.setMaxThreadCount(maxWorkers);
}

IPCClient::~IPCClient()
{
    m_pool.waitForDone();
}

void IPCClient::send(const QString &method, const std::optional<QJsonObject> &params, IPCCompletion completion)
{
    m_pool.start([shared = m_shared, method, params, completion = std::move(completion)] {
        completion(sendSync(*shared, method, params));
    });
}

IPCResult IPCClient::sendSync(Shared &shared, const QString &method, const std::optional<QJsonObject> &params)
{
    const qint64 id = ++shared.requestId;

    const int fd = PosixIo::unixStreamSocket();
    if (fd < 0)
        return IPCError{QCoreApplication::translate("IPCClient", "Failed to create socket")};
    SocketCloser closer(fd);

    // Another user's listener would be told what we send, a password among
    // it: the socket must be ours, and so must be whoever listens on it.
    if (ownedByAnotherUser(shared.socketPath))
        return foreignSocket(shared.socketPath);
    if (!connectTo(fd, shared.socketPath))
        return IPCError{QCoreApplication::translate("IPCClient", "Failed to connect to daemon at %1").arg(shared.socketPath),
                        IPCError::Kind::cannotConnect};
    if (const std::optional<uid_t> listener = PeerCredentials::userOf(fd); listener && *listener != ::geteuid())
        return foreignSocket(shared.socketPath);

    QJsonObject envelope{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                         {QStringLiteral("method"), method},
                         {QStringLiteral("id"), id}};
    if (params)
        envelope.insert(QStringLiteral("params"), *params);
    QByteArray request = QJsonDocument(envelope).toJson(QJsonDocument::Compact);
    request.append('\n');

    // A daemon that closed early must not kill us with SIGPIPE.
    const ssize_t sent = PosixIo::sendNoSignal(fd, request.constData(), size_t(request.size()));
    if (sent != ssize_t(request.size()))
        return IPCError{QCoreApplication::translate("IPCClient", "Failed to send request")};

    const QByteArray answer = receiveAnswer(fd);
    if (answer.isEmpty())
        return IPCError{QCoreApplication::translate("IPCClient", "No response from daemon")};
    return interpretAnswer(answer);
}

IPCResult IPCClient::interpretAnswer(const QByteArray &answer)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(answer, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return IPCError{parseError.errorString()};
    if (!document.isObject())
        return IPCError{QCoreApplication::translate("IPCClient", "Invalid response format")};

    const QJsonObject object = document.object();
    const QJsonValue error = object.value(QStringLiteral("error"));
    if (error.isObject()) {
        const QJsonValue message = error.toObject().value(QStringLiteral("message"));
        if (message.isString())
            return IPCError{message.toString(), IPCError::Kind::daemon};
    }
    const auto result = object.constFind(QStringLiteral("result"));
    if (result != object.constEnd())
        return result.value();
    return QJsonValue(QJsonObject());
}

bool IPCClient::answerMayContinue(const QByteArray &received)
{
    return AnswerScanner().feed(received.constData(), received.size());
}
