#pragma once

#include "client_connection.h"

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <memory>
#include <optional>

#include <sys/types.h>

// Listens on the daemon's Unix-domain socket and hands every accepted
// connection to a ClientConnection of its own.
class SocketServer : public QObject {
    Q_OBJECT
public:
    // Beyond this, new connections are closed at once rather than queued,
    // so a flood of clients cannot use up the process's descriptors.
    static constexpr int maxConnections = 64;

    explicit SocketServer(ClientConnection::Responder responder, QObject *parent = nullptr);
    ~SocketServer() override;

    SocketServer(const SocketServer &) = delete;
    SocketServer &operator=(const SocketServer &) = delete;

    // Creates the socket's directory (mode 0700) and replaces a stale socket
    // file. Returns why it cannot listen, or nothing once it does.
    std::optional<QString> listen(const QString &socketPath);

    // Stops listening and removes the socket file, unless another process
    // has put its own there meanwhile.
    void close();

private:
    std::optional<QString> prepareDirectory() const;
    std::optional<QString> clearStaleSocket() const;
    void acceptPending();

    ClientConnection::Responder m_responder;
    QString m_path;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    quint64 m_accepted = 0;
    int m_open = 0;
};
