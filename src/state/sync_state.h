#pragma once

#include "daemon/ipc_client.h"
#include "daemon/status_response.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

// The companion's one model of the daemon's state. It polls "status" every
// 2 seconds, applies answers on the main thread, derives the texts the panel
// shows, and carries the user's commands to the daemon.
class SyncState : public QObject {
    Q_OBJECT
    Q_PROPERTY(SyncStatus status READ status NOTIFY statusChanged)
    Q_PROPERTY(qint64 pendingUploads READ pendingUploads NOTIFY pendingUploadsChanged)
    Q_PROPERTY(qint64 pendingDownloads READ pendingDownloads NOTIFY pendingDownloadsChanged)
    Q_PROPERTY(std::optional<QDateTime> lastSync READ lastSync NOTIFY lastSyncChanged)
    Q_PROPERTY(QString syncFolder READ syncFolder NOTIFY syncFolderChanged)
    Q_PROPERTY(QString serverURL READ serverURL NOTIFY serverURLChanged)
    Q_PROPERTY(std::optional<QString> userEmail READ userEmail NOTIFY userEmailChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged)

public:
    using StateChangeCallback = std::function<void(SyncStatus)>;
    // Success carries no error; failure carries the request's error unchanged.
    using LoginCompletion = std::function<void(const std::optional<IPCError> &)>;
    using WallClock = std::function<QDateTime()>;

    static constexpr int pollIntervalMs = 2000;

    explicit SyncState(QObject *parent = nullptr);
    ~SyncState() override;

    SyncStatus status() const { return m_status; }
    qint64 pendingUploads() const { return m_pendingUploads; }
    qint64 pendingDownloads() const { return m_pendingDownloads; }
    std::optional<QDateTime> lastSync() const { return m_lastSync; }
    QString syncFolder() const { return m_syncFolder; }
    QString serverURL() const { return m_serverURL; }
    std::optional<QString> userEmail() const { return m_userEmail; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }

    // Called on the main thread; the shell installs it at launch.
    StateChangeCallback onStateChange;

    QString statusText() const;
    QString lastSyncText() const;

    void startPolling();
    void stopPolling();
    void fetchStatus();
    void pause();
    void resume();
    void login(const QString &email, const QString &password, const QString &serverURL, LoginCompletion completion);
    void logout();

    // Tests fix "now" for the relative last-sync phrase.
    void setWallClock(WallClock clock) { m_now = std::move(clock); }

    // Pure helpers behind the members above, open to tests and fuzzing.

    // An ISO 8601 internet date-time: full date, "T", hh:mm:ss without
    // fractions, then "Z" or a +hh:mm / -hh:mm offset. The result is in UTC.
    static std::optional<QDateTime> parseLastSync(const QString &text);
    static QString statusTextFor(SyncStatus status, qint64 pendingUploads, qint64 pendingDownloads,
                                 const std::optional<QString> &errorMessage);
    // `localeId` is an ICU locale id such as "en_US". Each thread keeps the
    // formatter of the locale it used last; calendar units are counted in the
    // time zone that was ICU's default when that formatter was made.
    static QString lastSyncTextFor(const std::optional<QDateTime> &lastSync, const QDateTime &now,
                                   const QString &localeId);

signals:
    void statusChanged();
    void pendingUploadsChanged();
    void pendingDownloadsChanged();
    void lastSyncChanged();
    void syncFolderChanged();
    void serverURLChanged();
    void userEmailChanged();
    void errorMessageChanged();

private:
    void applyStatus(const StatusResponse &record);
    void applyFailure(const IPCError &error);
    void sendThenRefresh(const QString &method);
    template <typename T, typename Value>
    void assign(T &field, Value &&value, void (SyncState::*changed)());

    SyncStatus m_status = SyncStatus::loggedOut;
    qint64 m_pendingUploads = 0;
    qint64 m_pendingDownloads = 0;
    std::optional<QDateTime> m_lastSync;
    QString m_syncFolder = QStringLiteral("~/Tornel");
    QString m_serverURL;
    std::optional<QString> m_userEmail;
    std::optional<QString> m_errorMessage;

    QPointer<QTimer> m_pollTimer;
    bool m_hasReceivedInitialStatus = false;
    WallClock m_now = [] { return QDateTime::currentDateTimeUtc(); };
    IPCClient m_ipcClient; // last: destroyed first, while the state above still exists
};
