#include "app/single_instance.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

namespace {

const QByteArray openPanelRequest = QByteArrayLiteral("open-panel\n");
const QByteArray acknowledgement = QByteArrayLiteral("ok\n");
constexpr qint64 maxLineLength = 64;

// Longer than one whole hand-over below, so a start that waits for the lock
// does not give up while another start is still talking to the companion.
constexpr int lockWaitMs = 8000;
constexpr int connectWaitMs = 1000;
constexpr int answerWaitMs = 3000;

QString runtimeDirectory()
{
    // Qt checks that the directory is ours and mode 0700, and otherwise falls
    // back to a private directory under the temporary directory (or to none).
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_server.nextPendingConnection())
            serve(peer);
    });
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

    // Without the lock two starts at the same moment could both find no one
    // listening and both become the companion.
    QLockFile lock(directory + QStringLiteral("/tornel.lock"));
    if (!lock.tryLock(lockWaitMs)) {
        m_error = QStringLiteral("cannot lock %1").arg(directory + QStringLiteral("/tornel.lock"));
        return Claim::Unavailable;
    }

    QLocalSocket running;
    running.connectToServer(path);
    if (running.waitForConnected(connectWaitMs)) {
        if (askToOpenPanel(running))
            return Claim::HandedOver;
        m_error = QStringLiteral("Tornel is already running but does not answer at %1").arg(path);
        return Claim::RunningButSilent;
    }
    switch (running.error()) {
    case QLocalSocket::ServerNotFoundError:
    case QLocalSocket::ConnectionRefusedError:
        break;
    case QLocalSocket::SocketTimeoutError:
        m_error = QStringLiteral("Tornel is already running but does not answer at %1").arg(path);
        return Claim::RunningButSilent;
    default:
        m_error = QStringLiteral("cannot reach %1: %2").arg(path, running.errorString());
        return Claim::Unavailable;
    }

    // No one listens: whatever is left at the path is from a companion that
    // ended without cleaning up.
    QLocalServer::removeServer(path);
    if (!m_server.listen(path)) {
        m_error = QStringLiteral("cannot listen at %1: %2").arg(path, m_server.errorString());
        return Claim::Unavailable;
    }
    return Claim::Primary;
}

bool SingleInstance::askToOpenPanel(QLocalSocket &running)
{
    running.write(openPanelRequest);
    const QDeadlineTimer deadline(answerWaitMs);
    while (!running.canReadLine()) {
        if (running.bytesAvailable() > maxLineLength || !running.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return running.readLine(maxLineLength + 1) == acknowledgement;
}

void SingleInstance::serve(QLocalSocket *peer)
{
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    // A start that connects and never asks must not hold its connection for good.
    QTimer::singleShot(answerWaitMs, peer, &QLocalSocket::abort);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
        if (!peer->canReadLine()) {
            if (peer->bytesAvailable() > maxLineLength)
                peer->abort();
            return;
        }
        if (peer->readLine(maxLineLength + 1) != openPanelRequest) {
            peer->abort();
            return;
        }
        peer->write(acknowledgement);
        peer->disconnectFromServer();
        emit openPanelRequested();
    });
}

#include "moc_single_instance.cpp"
