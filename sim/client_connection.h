#pragma once

#include "delivery.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>

// One accepted connection: reads one request line without blocking, asks the
// responder how to answer, writes that answer and closes. Every phase has a
// time limit, so a slow or silent client only ever holds its own connection.
class ClientConnection : public QObject {
    Q_OBJECT
public:
    using Responder = std::function<Delivery(const QByteArray &requestLine, quint64 connection)>;

    static constexpr qsizetype maxRequestSize = 64 * 1024;
    static constexpr int requestTimeoutMs = 10'000;
    static constexpr int writeTimeoutMs = 10'000;
    // Longer than the companion waits, so it sees the silence, not a close.
    static constexpr int silentHoldMs = 15'000;

    // Takes ownership of the non-blocking descriptor `fd`.
    ClientConnection(int fd, quint64 number, Responder responder, QObject *parent = nullptr);
    ~ClientConnection() override;

    ClientConnection(const ClientConnection &) = delete;
    ClientConnection &operator=(const ClientConnection &) = delete;

signals:
    // Emitted once, when the connection is done with (the descriptor stays
    // open until the object is destroyed).
    void finished();

private:
    void readRequest();
    void respond(const QByteArray &requestLine);
    void writeNextPiece();
    void writePending();
    void finish(const QString &reason = {});

    int m_fd;
    quint64 m_number;
    Responder m_responder;
    QSocketNotifier m_readable;
    QSocketNotifier m_writable;
    QTimer m_deadline;
    QTimer m_pause;
    QString m_deadlineReason;
    QByteArray m_request;
    QList<QByteArray> m_pieces; // still to write; a pause comes before each
    int m_pauseMs = 0;
    QByteArray m_writing;
    qsizetype m_written = 0;
    bool m_finished = false;
};
