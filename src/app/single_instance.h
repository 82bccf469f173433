#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QSocketNotifier;

// Keeps one companion per user session. The first start listens on a local
// socket in the user's runtime directory; a later start asks that one to open
// its panel and ends, so no second daemon is launched. Commands from the
// command line travel the same way: one request line, one answer line. Nothing outlives the
// process: the socket goes when the listening companion ends, and one left
// behind by a crash is replaced by the next start. Plain Unix-domain sockets
// on the event loop: Qt Network would cost every companion its libraries.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        Primary,          // this process is the companion and now listens
        HandedOver,       // the running companion was asked to open its panel
        RunningButSilent, // a companion holds the socket but does not answer
        Unavailable,      // no private runtime directory or socket; see errorString()
    };

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Decides whether this process is the companion. Call once, with the
    // application object constructed; blocks for at most a few seconds.
    Claim claim();
    QString errorString() const { return m_error; }

    // $XDG_RUNTIME_DIR/tornel.sock, or the same name in Qt's private fallback
    // under the temporary directory; empty when neither is safe to use.
    static QString socketPath();

    // Sends the line `request` to the running companion, without claiming
    // anything: its answer line (line feed removed), or none with `running`
    // telling whether a companion holds the socket at all. An empty request
    // is not sent: it only finds out whether one runs.
    struct Asked {
        std::optional<QByteArray> answer;
        bool running = false;
    };
    static Asked ask(const QByteArray &request, int waitMs);

    // Answers the request it was handed; once only.
    using Reply = std::function<void(const QByteArray &answer)>;

signals:
    // A later start asked for the panel (emitted on the main thread).
    void openPanelRequested();
    // Any other request line, line feed removed; `reply` may be called later.
    void requested(const QByteArray &request, const SingleInstance::Reply &reply);

private:
    void dispatch(const QByteArray &request, const Reply &reply);
    bool listen(const QString &path);
    void acceptPeers();

    int m_listenFd = -1;
    QString m_listenPath;
    QSocketNotifier *m_listening = nullptr;
    QString m_error;
};
