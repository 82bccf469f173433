#include "scripted_daemon.h"

#include "platform/posix_io.h"

#include <QJsonDocument>

#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool waitReadable(int fd, int wakeFd, int timeoutMs)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    return ::poll(fds, 2, timeoutMs) > 0 && (fds[0].revents & (POLLIN | POLLHUP)) && !(fds[1].revents & POLLIN);
}

void writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = PosixIo::sendNoSignal(fd, data, size);
        if (n <= 0)
            return;
        data += n;
        size -= size_t(n);
    }
}

ScriptedDaemon::Reply jsonRpc(const char *member, const QJsonValue &value)
{
    const QJsonObject envelope{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QLatin1String(member), value}};
    return ScriptedDaemon::Reply::answer(QJsonDocument(envelope).toJson(QJsonDocument::Compact) + '\n');
}

QJsonObject requestIn(const QByteArray &received)
{
    const qsizetype lineFeed = received.indexOf('\n');
    return QJsonDocument::fromJson(lineFeed < 0 ? received : received.first(lineFeed)).object();
}

} // namespace

ScriptedDaemon::Reply ScriptedDaemon::Reply::result(const QJsonValue &value)
{
    return jsonRpc("result", value);
}

ScriptedDaemon::Reply ScriptedDaemon::Reply::error(const QString &message)
{
    return jsonRpc("error", QJsonObject{{QStringLiteral("code"), -32000}, {QStringLiteral("message"), message}});
}

ScriptedDaemon::ScriptedDaemon(QString socketPath, Responder responder)
    : m_socketPath(std::move(socketPath)), m_responder(std::move(responder))
{
    if (!PosixIo::makePipe(m_wakeFds))
        return;
    const QByteArray path = m_socketPath.toUtf8();
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() > qsizetype(sizeof(address.sun_path)))
        return;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ::unlink(path.constData());
    const int fd = PosixIo::unixStreamSocket();
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd); // a failed socket() fails bind too
        return;
    }
    m_listenFd = fd;
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

ScriptedDaemon::~ScriptedDaemon()
{
    m_stopping = true;
    if (m_wakeFds[1] >= 0)
        (void)!::write(m_wakeFds[1], "x", 1);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    for (std::thread &connection : m_connections)
        connection.join();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(m_socketPath.toUtf8().constData());
    }
    for (int fd : m_wakeFds)
        if (fd >= 0)
            ::close(fd);
}

void ScriptedDaemon::setResponder(Responder responder)
{
    std::lock_guard lock(m_mutex);
    m_responder = std::move(responder);
}

QList<QByteArray> ScriptedDaemon::receivedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_receivedBytes;
}

QList<QJsonObject> ScriptedDaemon::requests() const
{
    QList<QJsonObject> parsed;
    for (const QByteArray &received : receivedBytes())
        parsed.append(requestIn(received));
    return parsed;
}

QStringList ScriptedDaemon::methods() const
{
    QStringList names;
    for (const QJsonObject &request : requests())
        names.append(request.value(QStringLiteral("method")).toString());
    return names;
}

QJsonObject ScriptedDaemon::statusRecord(const QString &state, qint64 uploads, qint64 downloads)
{
    return QJsonObject{{QStringLiteral("state"), state},
                       {QStringLiteral("pendingUploads"), uploads},
                       {QStringLiteral("pendingDownloads"), downloads},
                       {QStringLiteral("syncFolder"), QStringLiteral("~/Tornel")},
                       {QStringLiteral("serverUrl"), QStringLiteral("http://localhost:8080")}};
}

void ScriptedDaemon::acceptLoop()
{
    while (!m_stopping) {
        if (!waitReadable(m_listenFd, m_wakeFds[0], -1))
            return;
        const int fd = PosixIo::acceptConnection(m_listenFd);
        if (fd < 0)
            continue;
        std::lock_guard lock(m_mutex);
        m_connections.emplace_back([this, fd] {
            serve(fd);
            ::close(fd);
        });
    }
}

// False when the daemon is being torn down before `ms` have passed.
bool ScriptedDaemon::sleepUnlessStopping(int ms) const
{
    pollfd wake{m_wakeFds[0], POLLIN, 0};
    return ::poll(&wake, 1, ms) == 0;
}

void ScriptedDaemon::serve(int fd)
{
    if (m_closeBeforeReading)
        return;

    QByteArray line;
    char chunk[4096];
    while (!line.contains('\n') && waitReadable(fd, m_wakeFds[0], 15000)) {
        const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
        if (n <= 0)
            break;
        line.append(chunk, n);
    }
    Reply reply = Reply::result(QJsonObject());
    {
        std::lock_guard lock(m_mutex);
        m_receivedBytes.append(line);
        if (m_responder)
            reply = m_responder(requestIn(line));
    }
    if (reply.delayMs > 0 && !sleepUnlessStopping(reply.delayMs))
        return;
    const qsizetype firstPiece = reply.splitAt > 0 ? reply.splitAt : reply.bytes.size();
    writeAll(fd, reply.bytes.constData(), size_t(firstPiece));
    if (firstPiece < reply.bytes.size() && sleepUnlessStopping(100))
        writeAll(fd, reply.bytes.constData() + firstPiece, size_t(reply.bytes.size() - firstPiece));
    if (reply.holdOpenMs > 0)
        sleepUnlessStopping(reply.holdOpenMs);
}
