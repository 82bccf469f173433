#include "notify/tray_notifications.h"

#include <algorithm>

TrayNotifications::TrayNotifications(QObject *parent) : QObject(parent)
{
    m_delivery.setSingleShot(true);
    m_delivery.setTimerType(Qt::PreciseTimer);
    connect(&m_delivery, &QTimer::timeout, this, &TrayNotifications::deliverDue);
}

void TrayNotifications::statusObserved(SyncStatus status, const std::optional<QString> &errorMessage)
{
    m_policy.statusObserved(status, errorMessage);
    scheduleDelivery();
}

void TrayNotifications::serviceEnded(const QString &lastOutputLine)
{
    m_policy.serviceEnded(lastOutputLine);
    scheduleDelivery();
}

void TrayNotifications::serviceGaveUp(const QString &lastOutputLine)
{
    m_policy.serviceGaveUp(lastOutputLine);
    scheduleDelivery();
}

void TrayNotifications::serviceNotFound(const QStringList &searchedDirectories)
{
    m_policy.serviceNotFound(searchedDirectories);
    scheduleDelivery();
}

void TrayNotifications::serviceNotLaunched(const QString &path, const QString &reason)
{
    m_policy.serviceNotLaunched(path, reason);
    scheduleDelivery();
}

void TrayNotifications::trayMissing()
{
    m_policy.trayMissing();
    scheduleDelivery();
}

void TrayNotifications::trayAppeared()
{
    // A message already shown cannot be taken back; one still due is dropped.
    m_policy.trayAppeared();
}

void TrayNotifications::messageClicked()
{
    emit openPanelRequested();
}

void TrayNotifications::scheduleDelivery()
{
    const std::optional<NotificationPolicy::TimePoint> due = m_policy.nextDue();
    if (!due)
        return;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
    m_delivery.start(std::max(wait, std::chrono::milliseconds(0)));
}

void TrayNotifications::deliverDue()
{
    const std::optional<Notice> notice = m_policy.takeDue();
    scheduleDelivery();
    if (!notice)
        return;
    // Shown without an identifier: nothing can replace or close it later.
    m_policy.shown(notice->topic, 0);
    emit messageReady(notice->summary, notice->body, notice->urgent);
}

#include "moc_tray_notifications.cpp"
