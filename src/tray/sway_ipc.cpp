#include "tray/sway_ipc.h"

#include "platform/posix_io.h"

#include <QPointer>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char magic[] = "i3-ipc";
constexpr qsizetype magicSize = sizeof(magic) - 1;
constexpr qsizetype headerSize = magicSize + 2 * sizeof(quint32);
// sway's largest answer, a tree of many windows, is far below this.
constexpr quint32 largestPayload = 64 * 1024 * 1024;

} // namespace

QByteArray SwayMessage::encode(quint32 type, const QByteArray &payload)
{
    const auto length = quint32(payload.size());
    QByteArray message(magic, magicSize);
    message.append(reinterpret_cast<const char *>(&length), sizeof(length));
    message.append(reinterpret_cast<const char *>(&type), sizeof(type));
    return message + payload;
}

std::optional<SwayMessage::Message> SwayMessage::take(QByteArray &buffer)
{
    if (!buffer.startsWith(QByteArray(magic, std::min(magicSize, buffer.size())))) {
        buffer.clear();
        return Message{~0U, {}};
    }
    if (buffer.size() < headerSize)
        return std::nullopt;
    quint32 length = 0;
    quint32 type = 0;
    std::memcpy(&length, buffer.constData() + magicSize, sizeof(length));
    std::memcpy(&type, buffer.constData() + magicSize + sizeof(length), sizeof(type));
    if (length > largestPayload) {
        buffer.clear();
        return Message{~0U, {}};
    }
    if (buffer.size() < headerSize + qsizetype(length))
        return std::nullopt;
    Message message{type, buffer.mid(headerSize, length)};
    buffer.remove(0, headerSize + length);
    return message;
}

SwayIpc::~SwayIpc()
{
    close();
}

bool SwayIpc::open(const QByteArray &path)
{
    close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= qsizetype(sizeof(address.sun_path)))
        return false;
    std::memcpy(address.sun_path, path.constData(), path.size());
    m_fd = PosixIo::unixStreamSocket(PosixIo::Blocking::no);
    // A Unix socket connects at once or not at all.
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        close();
        return false;
    }
    m_readable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_readable.get(), &QSocketNotifier::activated, this, &SwayIpc::readAnswers);
    return true;
}

bool SwayIpc::send(quint32 type, const QByteArray &payload)
{
    const QByteArray message = SwayMessage::encode(type, payload);
    return m_fd >= 0
        && PosixIo::sendNoSignal(m_fd, message.constData(), message.size(), MSG_DONTWAIT) == message.size();
}

void SwayIpc::readAnswers()
{
    char chunk[16384];
    const ssize_t got = ::read(m_fd, chunk, sizeof(chunk));
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (got <= 0) {
        close();
        emit failed();
        return;
    }
    m_buffer.append(chunk, got);
    // Whoever hears an answer may be done with this connection.
    const QPointer<SwayIpc> self(this);
    while (std::optional<SwayMessage::Message> message = SwayMessage::take(m_buffer)) {
        if (message->type == ~0U) {
            close();
            emit failed();
            return;
        }
        emit answered(*message);
        if (!self)
            return;
    }
}

void SwayIpc::close()
{
    m_readable.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
}
