#include "socket_server.h"

#include "platform/posix_io.h"
#include "sim_log.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace Qt::StringLiterals;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool fillAddress(sockaddr_un &address, const QByteArray &path)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof(address.sun_path)) || path.contains('\0'))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return true;
}

} // namespace

SocketServer::SocketServer(ClientConnection::Responder responder, QObject *parent)
    : QObject(parent), m_responder(std::move(responder))
{
}

SocketServer::~SocketServer()
{
    close();
}

std::optional<QString> SocketServer::listen(const QString &socketPath)
{
    m_path = socketPath;
    const QByteArray path = QFile::encodeName(m_path);
    sockaddr_un address;
    if (!fillAddress(address, path))
        return u"the socket path %1 is too long for a Unix-domain socket"_s.arg(m_path);
    if (auto failure = prepareDirectory())
        return failure;
    if (auto failure = clearStaleSocket())
        return failure;

    const int fd = PosixIo::unixStreamSocket(PosixIo::Blocking::no);
    if (fd < 0)
        return u"cannot create a socket: %1"_s.arg(systemError());
    // Only the user may connect: the socket carries their password.
    const mode_t previousMask = ::umask(0077);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
    ::umask(previousMask);
    struct stat info {};
    if (!bound || ::listen(fd, SOMAXCONN) != 0 || ::stat(path.constData(), &info) != 0) {
        const QString failure = u"cannot listen on %1: %2"_s.arg(m_path, systemError());
        ::close(fd);
        return failure;
    }
    m_fd = fd;
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SocketServer::acceptPending);
    return std::nullopt;
}

void SocketServer::close()
{
    if (m_fd < 0)
        return;
    m_notifier.reset();
    ::close(m_fd);
    m_fd = -1;
    const QByteArray path = QFile::encodeName(m_path);
    struct stat info {};
    if (::lstat(path.constData(), &info) == 0 && info.st_dev == m_device && info.st_ino == m_inode)
        ::unlink(path.constData());
}

std::optional<QString> SocketServer::prepareDirectory() const
{
    const QString directory = QFileInfo(m_path).path();
    const QByteArray encoded = QFile::encodeName(directory);
    if (::mkdir(encoded.constData(), 0700) == 0 || errno == EEXIST) {
        struct stat info {};
        if (::stat(encoded.constData(), &info) == 0 && S_ISDIR(info.st_mode))
            return std::nullopt;
        return u"%1 exists and is not a directory"_s.arg(directory);
    }
    return u"cannot create %1: %2"_s.arg(directory, systemError());
}

std::optional<QString> SocketServer::clearStaleSocket() const
{
    const QByteArray path = QFile::encodeName(m_path);
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return std::nullopt;
    if (!S_ISSOCK(info.st_mode))
        return u"%1 exists and is not a socket; not replacing it"_s.arg(m_path);

    // A socket file nobody listens on is left over from a daemon that died.
    sockaddr_un address;
    fillAddress(address, path);
    const int probe = PosixIo::unixStreamSocket();
    if (probe < 0)
        return u"cannot create a socket: %1"_s.arg(systemError());
    // A daemon whose backlog is full would otherwise keep us waiting here.
    const timeval timeout{1, 0};
    ::setsockopt(probe, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    const bool answered = ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
    const int connectError = errno;
    ::close(probe);
    if (answered)
        return u"another daemon is already listening on %1"_s.arg(m_path);
    if (connectError != ECONNREFUSED)
        return u"cannot check %1: %2"_s.arg(m_path, QString::fromLocal8Bit(std::strerror(connectError)));
    if (::unlink(path.constData()) != 0)
        return u"cannot remove the stale socket %1: %2"_s.arg(m_path, systemError());
    simLog(u"Removed stale socket %1"_s.arg(m_path));
    return std::nullopt;
}

void SocketServer::acceptPending()
{
    for (;;) {
        const int fd = PosixIo::acceptConnection(m_fd, PosixIo::Blocking::no);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // Out of descriptors, say: the pending connection stays pending and
            // would wake us at once, so look again only a little later.
            simLog(u"Accepting a connection failed: %1"_s.arg(systemError()));
            m_notifier->setEnabled(false);
            QTimer::singleShot(100, m_notifier.get(), [notifier = m_notifier.get()] { notifier->setEnabled(true); });
            return;
        }
        const quint64 number = ++m_accepted;
        if (m_open >= maxConnections) {
            simLog(u"Connection %1: refused, %2 connections already open"_s.arg(number).arg(m_open));
            ::close(fd);
            continue;
        }
        ++m_open;
        auto *connection = new ClientConnection(fd, number, m_responder, this);
        connect(connection, &ClientConnection::finished, this, [this, connection] {
            --m_open;
            connection->deleteLater();
        });
    }
}

#include "moc_socket_server.cpp"
