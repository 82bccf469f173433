#include "client_connection.h"

#include "platform/posix_io.h"
#include "request_handler.h"
#include "sim_log.h"

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace Qt::StringLiterals;

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

ClientConnection::ClientConnection(int fd, quint64 number, Responder responder, QObject *parent)
    : QObject(parent), m_fd(fd), m_number(number), m_responder(std::move(responder)),
      m_readable(fd, QSocketNotifier::Read), m_writable(fd, QSocketNotifier::Write)
{
    m_writable.setEnabled(false);
    m_deadline.setSingleShot(true);
    m_pause.setSingleShot(true);
    connect(&m_readable, &QSocketNotifier::activated, this, &ClientConnection::readRequest);
    connect(&m_writable, &QSocketNotifier::activated, this, &ClientConnection::writePending);
    connect(&m_pause, &QTimer::timeout, this, &ClientConnection::writeNextPiece);
    connect(&m_deadline, &QTimer::timeout, this, [this] { finish(m_deadlineReason); });

    m_deadlineReason = u"no complete request within %1 ms"_s.arg(requestTimeoutMs);
    m_deadline.start(requestTimeoutMs);
}

ClientConnection::~ClientConnection()
{
    m_readable.setEnabled(false);
    m_writable.setEnabled(false);
    ::close(m_fd);
}

void ClientConnection::readRequest()
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof(chunk), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && wouldBlock(errno))
            return;
        if (n < 0) {
            finish(u"read failed"_s);
            return;
        }
        if (n == 0) {
            // A client that half-closes after its request still gets an answer.
            if (m_request.isEmpty())
                finish();
            else
                respond(m_request);
            return;
        }
        m_request.append(chunk, n);
        const qsizetype lineEnd = m_request.indexOf('\n');
        if (lineEnd >= 0 && lineEnd <= maxRequestSize) {
            respond(m_request.left(lineEnd));
            return;
        }
        if (m_request.size() > maxRequestSize) {
            simLog(u"Connection %1: request over %2 bytes, refused"_s.arg(m_number).arg(maxRequestSize));
            m_readable.setEnabled(false);
            m_pieces = {RequestHandler::failure({}, u"Request too large"_s)};
            writeNextPiece();
            return;
        }
    }
}

void ClientConnection::respond(const QByteArray &requestLine)
{
    m_readable.setEnabled(false);
    m_deadline.stop();
    const Delivery delivery = m_responder(requestLine, m_number);
    switch (delivery.kind) {
    case Delivery::Kind::closeWithoutAnswer:
        finish();
        return;
    case Delivery::Kind::silent:
        m_deadlineReason.clear();
        m_deadline.start(silentHoldMs);
        return;
    case Delivery::Kind::answer:
        break;
    }
    if (delivery.splitAt > 0 && delivery.splitAt < delivery.bytes.size())
        m_pieces = {delivery.bytes.left(delivery.splitAt), delivery.bytes.mid(delivery.splitAt)};
    else
        m_pieces = {delivery.bytes};
    m_pauseMs = delivery.pauseMs;
    if (delivery.delayMs > 0)
        m_pause.start(delivery.delayMs);
    else
        writeNextPiece();
}

void ClientConnection::writeNextPiece()
{
    if (m_pieces.isEmpty()) {
        finish();
        return;
    }
    m_writing = m_pieces.takeFirst();
    m_written = 0;
    m_deadlineReason = u"client did not take the answer within %1 ms"_s.arg(writeTimeoutMs);
    m_deadline.start(writeTimeoutMs);
    writePending();
}

void ClientConnection::writePending()
{
    while (m_written < m_writing.size()) {
        const ssize_t n = PosixIo::sendNoSignal(m_fd, m_writing.constData() + m_written,
                                                size_t(m_writing.size() - m_written), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && wouldBlock(errno)) {
            m_writable.setEnabled(true);
            return;
        }
        if (n < 0) {
            finish(u"client closed before the whole answer was written"_s);
            return;
        }
        m_written += n;
    }
    m_writable.setEnabled(false);
    m_deadline.stop();
    if (m_pieces.isEmpty())
        finish();
    else
        m_pause.start(m_pauseMs);
}

void ClientConnection::finish(const QString &reason)
{
    if (m_finished)
        return;
    m_finished = true;
    m_readable.setEnabled(false);
    m_writable.setEnabled(false);
    m_deadline.stop();
    m_pause.stop();
    if (!reason.isEmpty())
        simLog(u"Connection %1: closed, %2"_s.arg(m_number).arg(reason));
    emit finished();
}

#include "moc_client_connection.cpp"
