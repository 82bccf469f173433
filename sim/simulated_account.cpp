#include "simulated_account.h"

#include "sim_log.h"

#include <QDir>
#include <QUrl>

namespace {

using namespace Qt::StringLiterals;

const QString syncFolder = u"~/Tornel"_s;

bool isServerUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == "http"_L1 || scheme == "https"_L1) && !url.host().isEmpty();
}

} // namespace

SimulatedAccount::SimulatedAccount(int tickMs, int changesMs, Clock clock, QObject *parent)
    : QObject(parent), m_clock(std::move(clock)), m_random(QRandomGenerator::securelySeeded()),
      m_serverUrl(QString::fromLatin1(defaultServerUrl))
{
    m_tick.setInterval(tickMs);
    m_changes.setInterval(changesMs);
    connect(&m_tick, &QTimer::timeout, this, &SimulatedAccount::transferOne);
    connect(&m_changes, &QTimer::timeout, this, &SimulatedAccount::receiveChanges);
}

SimulatedAccount::Failure SimulatedAccount::login(const QString &email, const QString &password, const QString &serverUrl)
{
    if (!serverUrl.isEmpty() && !isServerUrl(serverUrl))
        return u"Invalid server URL"_s;
    if (!email.contains(u'@') || password != QLatin1StringView(demoPassword))
        return u"Invalid email or password"_s;

    if (!QDir::home().mkpath(u"Tornel"_s))
        simLog(u"Could not create the sync folder %1"_s.arg(syncFolder));
    m_userEmail = email;
    m_serverUrl = serverUrl.isEmpty() ? QString::fromLatin1(defaultServerUrl) : serverUrl;
    m_lastSync.reset();
    // A fresh account has something to fetch and something to send.
    m_pendingUploads = m_random.bounded(3, 9);
    m_pendingDownloads = m_random.bounded(3, 13);
    simLog(u"Logged in as %1 on %2"_s.arg(m_userEmail, m_serverUrl));
    m_changes.start();
    syncPendingOrFinish();
    return std::nullopt;
}

SimulatedAccount::Failure SimulatedAccount::pause()
{
    if (m_state == State::loggedOut)
        return u"Not logged in"_s;
    m_tick.stop();
    setState(State::paused);
    return std::nullopt;
}

SimulatedAccount::Failure SimulatedAccount::resume()
{
    if (m_state == State::loggedOut)
        return u"Not logged in"_s;
    if (m_state == State::paused)
        syncPendingOrFinish();
    return std::nullopt;
}

void SimulatedAccount::logout()
{
    m_tick.stop();
    m_changes.stop();
    m_pendingUploads = 0;
    m_pendingDownloads = 0;
    m_lastSync.reset();
    if (!m_userEmail.isEmpty())
        simLog(u"Logged out %1"_s.arg(m_userEmail));
    m_userEmail.clear();
    setState(State::loggedOut);
}

QJsonObject SimulatedAccount::status() const
{
    QJsonObject record{
        {u"state"_s, wireName(m_state)},
        {u"pendingUploads"_s, m_pendingUploads},
        {u"pendingDownloads"_s, m_pendingDownloads},
        {u"syncFolder"_s, syncFolder},
        {u"serverUrl"_s, m_serverUrl},
    };
    if (m_lastSync)
        record.insert(u"lastSync"_s, *m_lastSync);
    if (m_state != State::loggedOut)
        record.insert(u"userEmail"_s, m_userEmail);
    return record;
}

QString SimulatedAccount::wireName(State state)
{
    switch (state) {
    case State::syncing:
        return u"syncing"_s;
    case State::synced:
        return u"synced"_s;
    case State::paused:
        return u"paused"_s;
    case State::loggedOut:
        return u"logged_out"_s;
    }
    return {};
}

void SimulatedAccount::setState(State state)
{
    if (state == m_state)
        return;
    QString line = u"State: %1 -> %2"_s.arg(wireName(m_state), wireName(state));
    if (state == State::syncing || state == State::paused)
        line += u" (%1 to upload, %2 to download)"_s.arg(m_pendingUploads).arg(m_pendingDownloads);
    if (state == State::synced && m_lastSync)
        line += u" (last sync %1)"_s.arg(*m_lastSync);
    m_state = state;
    simLog(line);
}

void SimulatedAccount::syncPendingOrFinish()
{
    if (m_pendingUploads > 0 || m_pendingDownloads > 0) {
        setState(State::syncing);
        if (!m_tick.isActive())
            m_tick.start();
        return;
    }
    m_tick.stop();
    m_lastSync = m_clock().toUTC().toString(Qt::ISODate);
    setState(State::synced);
}

void SimulatedAccount::transferOne()
{
    if (m_state != State::syncing)
        return;
    if (m_pendingUploads > 0)
        --m_pendingUploads;
    if (m_pendingDownloads > 0)
        --m_pendingDownloads;
    if (m_pendingUploads == 0 && m_pendingDownloads == 0)
        syncPendingOrFinish();
}

void SimulatedAccount::receiveChanges()
{
    const qint64 uploads = m_random.bounded(0, 3);
    const qint64 downloads = m_random.bounded(1, 4);
    m_pendingUploads += uploads;
    m_pendingDownloads += downloads;
    simLog(u"Changes arrived: %1 to upload, %2 to download"_s.arg(uploads).arg(downloads));
    // While paused they wait for the resume.
    if (m_state == State::synced)
        syncPendingOrFinish();
}

#include "moc_simulated_account.cpp"
