#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

// The account and sync progress this stand-in daemon pretends to have. After
// a login the pending transfers count down one per tick until everything is
// synced; now and then new changes arrive and the countdown starts again.
class SimulatedAccount : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    // Each command answers with the reason it failed, or nothing on success.
    using Failure = std::optional<QString>;

    static constexpr auto defaultServerUrl = "http://localhost:8080";
    static constexpr auto demoPassword = "tornel";

    SimulatedAccount(int tickMs, int changesMs, Clock clock = &QDateTime::currentDateTimeUtc, QObject *parent = nullptr);

    // `serverUrl` empty means the default server.
    Failure login(const QString &email, const QString &password, const QString &serverUrl);
    Failure pause();
    Failure resume();
    void logout();

    // The record answered to "status".
    QJsonObject status() const;

private:
    enum class State { syncing, synced, paused, loggedOut };
    static QString wireName(State state);

    void setState(State state);
    void syncPendingOrFinish();
    void transferOne();
    void receiveChanges();

    Clock m_clock;
    QRandomGenerator m_random;
    QTimer m_tick;
    QTimer m_changes;
    State m_state = State::loggedOut;
    qint64 m_pendingUploads = 0;
    qint64 m_pendingDownloads = 0;
    std::optional<QString> m_lastSync;
    QString m_serverUrl;
    QString m_userEmail;
};
