#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include <memory>
#include <optional>

// sway's IPC (i3's binary protocol) over its Unix socket: each message is
// "i3-ipc", the payload's length and the message's type (both 32-bit, in the
// host's order), then the payload. Answers come in the order asked.
namespace SwayMessage {

enum Type : quint32 { runCommand = 0, getWorkspaces = 1, getOutputs = 3, getTree = 4 };

struct Message {
    quint32 type = 0;
    QByteArray payload;
};

QByteArray encode(quint32 type, const QByteArray &payload);
// The first whole message at the front of `buffer`, taken off it; nothing
// while it is incomplete. A buffer that does not start with the magic
// yields a message of type ~0 and is emptied.
std::optional<Message> take(QByteArray &buffer);

} // namespace SwayMessage

// One connection to sway, never blocking: messages are written at once (they
// are small, and a socket's buffer takes them whole) and answers are read as
// they come.
class SwayIpc : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SwayIpc() override;

    // Connects to the socket at `path`; false when nothing listens there.
    bool open(const QByteArray &path);
    bool send(quint32 type, const QByteArray &payload);

signals:
    void answered(const SwayMessage::Message &message);
    // The socket closed or broke, or spoke something else than sway's protocol.
    void failed();

private:
    void readAnswers();
    void close();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_readable;
    QByteArray m_buffer;
};
