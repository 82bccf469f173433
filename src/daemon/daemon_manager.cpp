#include "daemon/daemon_manager.h"
DaemonManager::DaemonManager(QObject *parent) : QObject(parent) {}
DaemonManager::~DaemonManager() = default;
void DaemonManager::start(std::function<void()>) {}
void DaemonManager::stop() {}
