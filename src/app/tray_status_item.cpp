#include "app/tray_status_item.h"

#include "app/symbol_icon_engine.h"
#include "views/symbols.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include <cstdio>

TrayStatusItem::TrayStatusItem(QObject *parent) : StatusItem(parent)
{
    connect(&m_trayWatcher, &TrayAvailabilityWatcher::trayAvailable, this, &TrayStatusItem::updateTrayIcon);
    if (!m_trayWatcher.isTrayAvailable())
        std::fputs("Tornel: waiting for a system tray to show the icon\n", stderr);
    // Colours are resolved against the palette, so a theme change redraws.
    qApp->installEventFilter(this);
}

TrayStatusItem::~TrayStatusItem() = default;

void TrayStatusItem::setIcon(const StatusIcon &icon)
{
    m_icon = icon;
    updateTrayIcon();
}

void TrayStatusItem::setContextMenu(QMenu *menu)
{
    m_contextMenu = menu;
    if (m_trayIcon)
        m_trayIcon->setContextMenu(menu);
}

bool TrayStatusItem::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        updateTrayIcon();
    return false;
}

void TrayStatusItem::updateTrayIcon()
{
    if (!m_icon || !m_trayWatcher.isTrayAvailable())
        return;
    if (!m_trayIcon) {
        m_trayIcon = new QSystemTrayIcon(this);
        m_trayIcon->setContextMenu(m_contextMenu);
        connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            // A second press soon after the first arrives as a double click.
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                emit clicked();
        });
    }

    // Untinted symbols are drawn in the text colour, as the panel draws them.
    const QColor color = resolveColor(m_icon->color.value_or(NamedColor::primaryLabel), QGuiApplication::palette());
    // An unknown symbol leaves the item without an image rather than a wrong one.
    m_trayIcon->setIcon(Symbols::exists(m_icon->symbol) ? QIcon(new SymbolIconEngine(m_icon->symbol, color)) : QIcon());
    // Trays read the tooltip as the item's name for assistive technology;
    // QSystemTrayIcon has no separate accessible name.
    m_trayIcon->setToolTip(m_icon->description);
    if (!m_trayIcon->isVisible())
        m_trayIcon->show();
}

QRect TrayStatusItem::geometry() const
{
    return m_trayIcon ? m_trayIcon->geometry() : QRect();
}
