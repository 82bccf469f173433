#include "model_driver.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>

#include <unicode/locid.h>

ModelDriver::ModelDriver()
{
    qputenv("HOME", m_home.path().toUtf8());
    QDir(m_home.path()).mkpath(QStringLiteral(".tornel"));
    m_daemon = std::make_unique<ScriptedDaemon>(m_home.path() + QStringLiteral("/.tornel/daemon.sock"));
    m_state = std::make_unique<SyncState>();
    m_state->setWallClock([] { return QDateTime(QDate(2024, 5, 1), QTime(10, 5), Qt::UTC); });
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
}

QJsonObject ModelDriver::record(const QString &state, const QJsonObject &fields)
{
    QJsonObject object = ScriptedDaemon::statusRecord(state);
    for (auto it = fields.begin(); it != fields.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

bool ModelDriver::apply(QJsonObject record)
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

bool ModelDriver::waitForCount(const QString &method, qsizetype expected) const
{
    return QTest::qWaitFor([&] { return count(method) >= expected; }, 5000) && count(method) == expected;
}
