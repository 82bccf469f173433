// The floor for the benchmarks: the least a tray companion of this kind can
// be. A tray icon, a hidden 320x400 panel that a click on the icon shows as a
// popup under it (a click outside closes it), and a status request to the
// daemon's socket every 2 seconds on a pool thread, with a fresh zero-filled
// 1 MiB receive buffer per request and the answer handed to the main thread.
#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QByteArray exchange(const QByteArray &socketPath, const QByteArray &request)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.constData(), size_t(qMin(socketPath.size(), qsizetype(sizeof(address.sun_path) - 1))));
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0
        && ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == ssize_t(request.size())) {
        timeval timeout{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        std::vector<char> buffer(1024 * 1024, 0);
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n > 0)
            answer = QByteArray(buffer.data(), n);
    }
    ::close(fd);
    return answer;
}

QIcon dot(const QColor &color)
{
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(color);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(3, 3, 16, 16);
    return QIcon(pixmap);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    QSystemTrayIcon tray(dot(Qt::gray));
    tray.show();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        std::fputs("tornel-floor: no system tray; the icon is not shown\n", stderr);
    QWidget panel(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    panel.resize(320, 400);
    QObject::connect(&tray, &QSystemTrayIcon::activated, &panel, [&](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger || panel.isVisible())
            return;
        panel.move(qMax(0, tray.geometry().center().x() - panel.width() / 2), tray.geometry().bottom() + 1);
        panel.show();
    });

    const QByteArray socketPath = (QDir::homePath() + QStringLiteral("/.tornel/daemon.sock")).toUtf8();
    std::atomic<qint64> nextId{0};
    QString shownState;
    QThreadPool pool;
    QTimer poll;
    poll.setInterval(2000);
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        const QByteArray request = R"({"jsonrpc":"2.0","method":"status","id":)" + QByteArray::number(++nextId) + "}\n";
        pool.start([&, request] {
            const QByteArray answer = exchange(socketPath, request);
            QMetaObject::invokeMethod(&app, [&, answer] {
                const QString state = QJsonDocument::fromJson(answer)["result"]["state"].toString();
                if (state == shownState)
                    return;
                shownState = state;
                tray.setIcon(dot(state == QStringLiteral("synced") ? Qt::green : Qt::gray));
            }, Qt::QueuedConnection);
        });
    });
    poll.start();
    return app.exec();
}
