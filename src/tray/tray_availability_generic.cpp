#include "tray/tray_availability.h"

#include <QSystemTrayIcon>

TrayAvailability::TrayAvailability(QObject *parent)
    : QObject(parent), m_available(QSystemTrayIcon::isSystemTrayAvailable())
{}

#include "moc_tray_availability.cpp"
