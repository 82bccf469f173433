#include "notify/notifications.h"

#include <algorithm>

Notifications::Notifications(QObject *parent) : QObject(parent)
{
    m_delivery.setSingleShot(true);
    m_delivery.setTimerType(Qt::PreciseTimer);
    connect(&m_delivery, &QTimer::timeout, this, &Notifications::deliverDue);
}

void Notifications::statusObserved(SyncStatus status, const std::optional<QString> &errorMessage)
{
    m_policy.statusObserved(status, errorMessage);
    scheduleDelivery();
}

void Notifications::serviceGaveUp(const QString &lastOutputLine)
{
    m_policy.serviceGaveUp(lastOutputLine);
    scheduleDelivery();
}

void Notifications::serviceEnded(const QString &lastOutputLine)
{
    m_policy.serviceEnded(lastOutputLine);
    scheduleDelivery();
}

void Notifications::serviceNotFound(const QStringList &searchedDirectories)
{
    m_policy.serviceNotFound(searchedDirectories);
    scheduleDelivery();
}

void Notifications::serviceNotLaunched(const QString &path, const QString &reason)
{
    m_policy.serviceNotLaunched(path, reason);
    scheduleDelivery();
}

void Notifications::trayMissing()
{
    m_policy.trayMissing();
    scheduleDelivery();
}

void Notifications::trayAppeared()
{
    // Its advice no longer holds once the icon shows.
    if (const std::optional<quint32> id = m_policy.trayAppeared())
        takeBack(*id);
}

void Notifications::scheduleDelivery()
{
    const std::optional<NotificationPolicy::TimePoint> due = m_policy.nextDue();
    if (!due)
        return;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
    m_delivery.start(std::max(wait, std::chrono::milliseconds(0)));
}

void Notifications::deliverDue()
{
    const std::optional<Notice> notice = m_policy.takeDue();
    scheduleDelivery();
    if (notice)
        show(*notice);
}

#include "moc_notifications.cpp"
