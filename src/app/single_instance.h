#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// Keeps one companion per user session. The first start listens on a local
// socket in the user's runtime directory; a later start asks that one to open
// its panel and ends, so no second daemon is launched. Nothing outlives the
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

signals:
    // A later start asked for the panel (emitted on the main thread).
    void openPanelRequested();

private:
    bool askToOpenPanel(int running);
    bool listen(const QString &path);
    void acceptPeers();

    int m_listenFd = -1;
    QString m_listenPath;
    QSocketNotifier *m_listening = nullptr;
    QString m_error;
};
