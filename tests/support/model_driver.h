#pragma once

#include "scripted_daemon.h"
#include "state/sync_state.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>

// A SyncState talking to a ScriptedDaemon in a private home directory, for
// tests and pictures that put the views into a chosen state. Construct it
// before any object that reads the home directory. The phrases that depend
// on the time and the locale are fixed: it is 2024-05-01 10:05 UTC, in English.
class ModelDriver {
public:
    ModelDriver();

    SyncState &state() { return *m_state; }
    ScriptedDaemon &daemon() { return *m_daemon; }
    QString home() const { return m_home.path(); }

    // A status record in `state` (the wire name) with the given fields added.
    static QJsonObject record(const QString &state, const QJsonObject &fields = {});

    // Lets the daemon answer "status" with `record` from now on (other
    // methods with an empty result), fetches it and waits until the model
    // has applied it and the views have redrawn.
    [[nodiscard]] bool apply(QJsonObject record);

    // How many requests of `method` the daemon has received; waiting, that
    // there are `expected` and no more.
    qsizetype count(const QString &method) const { return m_daemon->methods().count(method); }
    [[nodiscard]] bool waitForCount(const QString &method, qsizetype expected) const;

private:
    QTemporaryDir m_home;
    std::unique_ptr<ScriptedDaemon> m_daemon;
    std::unique_ptr<SyncState> m_state;
    int m_applied = 0;
};
