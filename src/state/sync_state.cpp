#include "state/sync_state.h"
SyncState::SyncState(QObject *parent) : QObject(parent) {}
SyncState::~SyncState() = default;
QString SyncState::statusText() const { return {}; }
QString SyncState::lastSyncText() const { return {}; }
void SyncState::startPolling() {}
void SyncState::stopPolling() {}
void SyncState::fetchStatus() {}
void SyncState::pause() {}
void SyncState::resume() {}
void SyncState::login(const QString &, const QString &, const QString &, LoginCompletion) {}
void SyncState::logout() {}
