#pragma once

#include "daemon/ipc_client.h"
#include "daemon/status_response.h"
#include "state/timed_pause.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

// The companion's one model of the daemon's state. It polls "status" every
// 2 seconds, applies answers on the main thread, derives the texts the panel
// shows, and carries the user's commands to the daemon.
//
// Polls do not wait for each other, so answers may arrive out of order: an
// answer is applied only when no answer to a later request has been, and a
// command makes every status request sent before it stale, so the refresh
// that follows a command shows the daemon's view and no earlier poll undoes it.
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
    Q_PROPERTY(std::optional<QString> commandError READ commandError NOTIFY commandErrorChanged)

public:
    // Success carries no error; failure carries the request's error unchanged.
    // Called on the main thread, also when the model is gone by then.
    using CommandCompletion = std::function<void(const std::optional<IPCError> &)>;
    using WallClock = std::function<QDateTime()>;
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr int pollIntervalMs = 2000;
    // How long a daemon just launched may take to listen on its socket.
    static constexpr std::chrono::seconds startupGrace{10};

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
    // Why the user's last command failed, where the daemon refused it; cleared
    // by the next command and by a change of status.
    std::optional<QString> commandError() const { return m_commandError; }

    QString statusText() const;
    QString lastSyncText() const;

    void startPolling();
    void stopPolling();
    void fetchStatus();
    // A completion learns whether the daemon confirmed (the command line waits for it).
    void pause(CommandCompletion completion = {});
    void resume(CommandCompletion completion = {});
    // Pauses with an end, and keeps that end; see TimedPause.
    TimedPause &timedPause() { return m_timedPause; }
    const TimedPause &timedPause() const { return m_timedPause; }
    void login(const QString &email, const QString &password, const QString &serverURL, CommandCompletion completion);
    void logout();

    // A command carried out outside the model (opening the sync folder) failed, for `why`.
    void reportCommandError(const QString &why) { setCommandError(why); }

    // The daemon was launched: until its socket first answers, within
    // `startupGrace`, a poll that cannot connect leaves the state as it is.
    void daemonLaunched();

    // Tests fix "now" for the relative last-sync phrase, and for the start-up grace.
    void setWallClock(WallClock clock) { m_now = std::move(clock); }
    void setSteadyClock(SteadyClock clock) { m_steadyNow = std::move(clock); }

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
    // For the first applied answer, each answer whose status differs from the
    // one held before it, every failed poll, and a confirmed logout.
    void stateChanged(SyncStatus status);

    // "pause" or "resume" went out, whoever asked for it.
    void commandSent(const QString &method);

    void statusChanged();
    void pendingUploadsChanged();
    void pendingDownloadsChanged();
    void lastSyncChanged();
    void syncFolderChanged();
    void serverURLChanged();
    void userEmailChanged();
    void errorMessageChanged();
    void commandErrorChanged();

private:
    // Status requests are numbered as they are sent; `number` is the request's.
    bool takeAnswerTo(qint64 number);
    void applyStatus(const StatusResponse &record);
    void answerUnreadable();
    void applyFailure(const IPCError &error);
    // Every status request sent so far is stale once a command goes out.
    void beginCommand();
    void sendThenRefresh(const QString &method, CommandCompletion completion);
    void setCommandError(std::optional<QString> error);
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
    std::optional<QString> m_commandError;

    QPointer<QTimer> m_pollTimer;
    bool m_hasReceivedInitialStatus = false;
    qint64 m_statusRequestsSent = 0;
    // Answers to earlier status requests are stale.
    qint64 m_oldestApplicableRequest = 1;
    int m_unreadableAnswersInARow = 0;
    // Set while a daemon just launched has not answered yet.
    std::optional<std::chrono::steady_clock::time_point> m_startupGraceEnds;
    WallClock m_now = [] { return QDateTime::currentDateTimeUtc(); };
    SteadyClock m_steadyNow = [] { return std::chrono::steady_clock::now(); };
    TimedPause m_timedPause{*this, TimedPause::defaultFilePath()};
    IPCClient m_ipcClient; // last: destroyed first, while the state above still exists
};
