#include "app/single_instance.h"

#include "platform/posix_io.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <functional>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QByteArray openPanelRequest = QByteArrayLiteral("open-panel");
const QByteArray acknowledgement = QByteArrayLiteral("ok");
constexpr qsizetype maxLineLength = 64;
// Answers may quote the daemon's messages.
constexpr qsizetype maxAnswerLength = 8192;

// Longer than one whole hand-over below, so a start that waits for the lock
// does not give up while another start is still talking to the companion.
constexpr int lockWaitMs = 8000;
constexpr int answerWaitMs = 3000;
// A request that the companion carries to the daemon may wait for its answer.
constexpr int requestWaitMs = 15000;

// Only the user may have made the folder of the lock and the socket, and
// only the user may write to it: another user who made it first could stand
// in for Tornel, or switch off one-Tornel-per-session.
bool isPrivateDirectory(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// XDG_RUNTIME_DIR when it is set and private; else a folder of Tornel's own
// in the user's cache, under a home no other user writes to, never a shared
// folder such as Qt's fallback in /tmp. Empty when neither can be had.
QString runtimeDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateDirectory(runtime))
        return runtime;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString own = cache + QStringLiteral("/tornel");
    QDir().mkpath(cache);
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    return isPrivateDirectory(own) ? own : QString();
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// False when `path` does not fit a socket address.
bool addressOf(const QString &path, sockaddr_un &address)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() >= qsizetype(sizeof(address.sun_path)))
        return false;
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
    return true;
}

// The first line of `received`, line feed included; empty while none is whole.
QByteArray firstLine(const QByteArray &received)
{
    const qsizetype end = received.indexOf('\n');
    return end < 0 ? QByteArray() : received.first(end + 1);
}

// Sends `request` and a line feed on the connected `fd` and waits up to
// `waitMs` for one line back: that line without its line feed, or none.
std::optional<QByteArray> exchange(int fd, const QByteArray &request, int waitMs)
{
    const QByteArray line = request + '\n';
    if (PosixIo::sendNoSignal(fd, line.constData(), size_t(line.size())) != line.size())
        return std::nullopt;
    const QDeadlineTimer deadline(waitMs);
    QByteArray received;
    while (firstLine(received).isEmpty() && received.size() <= maxAnswerLength) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        char buffer[4096];
        const ssize_t count = ready > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : -1;
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return std::nullopt;
        received.append(buffer, count);
    }
    const QByteArray answer = firstLine(received);
    return answer.isEmpty() ? std::nullopt : std::optional(answer.chopped(1));
}

// One later start's connection: it asks, is answered, and is closed; a start
// that connects and never asks must not hold its connection for good.
class Peer : public QObject {
public:
    using Handler = std::function<void(const QByteArray &, const SingleInstance::Reply &)>;

    Peer(int fd, Handler onRequest, QObject *parent)
        : QObject(parent), m_fd(fd), m_readable(fd, QSocketNotifier::Read), m_onRequest(std::move(onRequest))
    {
        connect(&m_readable, &QSocketNotifier::activated, this, &Peer::read);
        connect(&m_expiry, &QTimer::timeout, this, &QObject::deleteLater);
        m_expiry.setSingleShot(true);
        m_expiry.start(answerWaitMs);
    }
    ~Peer() override { ::close(m_fd); }

private:
    void read()
    {
        char buffer[maxLineLength + 1];
        const ssize_t received = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (received > 0)
            m_received.append(buffer, received);
        const QByteArray line = firstLine(m_received);
        if (received > 0 && line.isEmpty() && m_received.size() <= maxLineLength)
            return;
        m_readable.setEnabled(false);
        if (line.isEmpty()) {
            deleteLater();
            return;
        }
        m_expiry.start(requestWaitMs);
        m_onRequest(line.chopped(1), [self = QPointer<Peer>(this)](const QByteArray &answer) {
            if (!self)
                return;
            const QByteArray sent = answer + '\n';
            (void)!PosixIo::sendNoSignal(self->m_fd, sent.constData(), size_t(sent.size()), MSG_DONTWAIT);
            self->deleteLater();
        });
    }

    const int m_fd;
    QSocketNotifier m_readable;
    QTimer m_expiry;
    Handler m_onRequest;
    QByteArray m_received;
};

} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}

SingleInstance::~SingleInstance()
{
    if (m_listenFd < 0)
        return;
    delete m_listening;
    ::close(m_listenFd);
    ::unlink(QFile::encodeName(m_listenPath).constData());
}

QString SingleInstance::socketPath()
{
    const QString directory = runtimeDirectory();
    return directory.isEmpty() ? QString() : directory + QStringLiteral("/tornel.sock");
}

SingleInstance::Claim SingleInstance::claim()
{
    const QString directory = runtimeDirectory();
    if (directory.isEmpty()) {
        m_error = QStringLiteral("no private runtime directory for the instance socket");
        return Claim::Unavailable;
    }
    const QString path = directory + QStringLiteral("/tornel.sock");
    sockaddr_un address;
    if (!addressOf(path, address)) {
        m_error = QStringLiteral("the socket path %1 is too long").arg(path);
        return Claim::Unavailable;
    }

    // Without the lock two starts at the same moment could both find no one
    // listening and both become the companion.
    QLockFile lock(directory + QStringLiteral("/tornel.lock"));
    if (!lock.tryLock(lockWaitMs)) {
        m_error = QStringLiteral("cannot lock %1").arg(directory + QStringLiteral("/tornel.lock"));
        return Claim::Unavailable;
    }

    // Not blocking: a companion whose queue of connections is full does not answer either.
    const int running = PosixIo::unixStreamSocket(PosixIo::Blocking::no);
    const int connected = running < 0 ? -1 : ::connect(running, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    const int error = errno;
    if (connected == 0) {
        const bool answered = exchange(running, openPanelRequest, answerWaitMs) == acknowledgement;
        ::close(running);
        if (answered)
            return Claim::HandedOver;
        m_error = QStringLiteral("Tornel is already running but does not answer at %1").arg(path);
        return Claim::RunningButSilent;
    }
    if (running >= 0)
        ::close(running);
    switch (error) {
    case ENOENT:
    case ECONNREFUSED:
        break;
    case EAGAIN:
        m_error = QStringLiteral("Tornel is already running but does not answer at %1").arg(path);
        return Claim::RunningButSilent;
    default:
        m_error = QStringLiteral("cannot reach %1: %2").arg(path, systemError(error));
        return Claim::Unavailable;
    }
    return listen(path) ? Claim::Primary : Claim::Unavailable;
}

SingleInstance::Asked SingleInstance::ask(const QByteArray &request, int waitMs)
{
    sockaddr_un address;
    const QString path = socketPath();
    if (path.isEmpty() || !addressOf(path, address))
        return {};
    const int running = PosixIo::unixStreamSocket(PosixIo::Blocking::no);
    if (running < 0)
        return {};
    Asked asked;
    if (::connect(running, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        asked = {request.isEmpty() ? std::nullopt : exchange(running, request, waitMs), true};
    else
        asked.running = errno == EAGAIN;
    ::close(running);
    return asked;
}

bool SingleInstance::listen(const QString &path)
{
    sockaddr_un address;
    addressOf(path, address);
    // No one listens: whatever is left at the path is from a companion that
    // ended without cleaning up.
    ::unlink(address.sun_path);
    const int fd = PosixIo::unixStreamSocket(PosixIo::Blocking::no);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, SOMAXCONN) != 0) {
        m_error = QStringLiteral("cannot listen at %1: %2").arg(path, systemError(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_listenFd = fd;
    m_listenPath = path;
    m_listening = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_listening, &QSocketNotifier::activated, this, &SingleInstance::acceptPeers);
    return true;
}

void SingleInstance::acceptPeers()
{
    int peer;
    while ((peer = PosixIo::acceptConnection(m_listenFd, PosixIo::Blocking::no)) >= 0)
        new Peer(peer, [this](const QByteArray &request, const Reply &reply) { dispatch(request, reply); }, this);
}

void SingleInstance::dispatch(const QByteArray &request, const Reply &reply)
{
    if (request != openPanelRequest) {
        emit requested(request, reply);
        return;
    }
    reply(acknowledgement);
    emit openPanelRequested();
}

#include "moc_single_instance.cpp"
