#pragma once

#include "scripted_daemon.h"
#include "state/sync_state.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unicode/locid.h>

#include <memory>

// A SyncState talking to a ScriptedDaemon in a private home directory, for
// tests and pictures that put the views into a chosen state. Construct it
// before any object that reads the home directory. The phrases that depend
// on the time and the locale are fixed: it is 2024-05-01 10:05 UTC, in English.
class ModelDriver {
public:
    ModelDriver()
    {
        qputenv("HOME", m_home.path().toUtf8());
        // A timed pause keeps its end under the home too.
        qunsetenv("XDG_STATE_HOME");
        QDir(m_home.path()).mkpath(QStringLiteral(".tornel"));
        m_daemon = std::make_unique<ScriptedDaemon>(m_home.path() + QStringLiteral("/.tornel/daemon.sock"));
        m_state = std::make_unique<SyncState>();
        m_state->setWallClock([] { return QDateTime(QDate(2024, 5, 1), QTime(10, 5), Qt::UTC); });
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
    }

    SyncState &state() { return *m_state; }
    ScriptedDaemon &daemon() { return *m_daemon; }

    // A status record in `state` (the wire name) of the account
    // me@example.com, with the given fields added or replaced.
    static QJsonObject record(const QString &state, const QJsonObject &fields = {})
    {
        QJsonObject object = ScriptedDaemon::statusRecord(state);
        object.insert(QStringLiteral("userEmail"), QStringLiteral("me@example.com"));
        for (auto it = fields.begin(); it != fields.end(); ++it)
            object.insert(it.key(), it.value());
        return object;
    }

    // Lets the daemon answer "status" with `record` from now on (other
    // methods with an empty result), fetches it and waits until the model
    // has applied it and the views have redrawn.
    [[nodiscard]] bool apply(QJsonObject record)
    {
        // The panel never shows the server, so it marks which answer was applied.
        const QString marker = QStringLiteral("http://answer-%1.test").arg(++m_applied);
        record.insert(QStringLiteral("serverUrl"), marker);
        m_daemon->setResponder([record](const QJsonObject &request) {
            const bool status = request.value(QStringLiteral("method")).toString() == QLatin1String("status");
            return ScriptedDaemon::Reply::result(status ? record : QJsonObject());
        });
        m_state->fetchStatus();
        if (!QTest::qWaitFor([&] { return m_state->serverURL() == marker; }, 5000))
            return false;
        // The views redraw in a task queued while the answer was applied.
        QCoreApplication::sendPostedEvents();
        return true;
    }

    // The methods the daemon was asked for so far, in order, but "status".
    QStringList calls() const { return m_daemon->methods().filter(QRegularExpression(QStringLiteral("^(?!status$)"))); }

private:
    QTemporaryDir m_home;
    std::unique_ptr<ScriptedDaemon> m_daemon;
    std::unique_ptr<SyncState> m_state;
    int m_applied = 0;
};
