#include "tray/tray_status_item.h"

#include "views/symbols.h"

#include <QApplication>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// An icon drawn from a symbol at whatever size and pixel ratio is asked for,
// so the tray gets a sharp image at its own size rather than a scaled one.
class SymbolIconEngine : public QIconEngine {
public:
    SymbolIconEngine(QString symbol, QColor color) : m_symbol(std::move(symbol)), m_color(color) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        Symbols::paint(*painter, rect, m_symbol, m_color, std::min(rect.width(), rect.height()));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        return Symbols::pixmap(m_symbol, m_color, std::min(size.width(), size.height()));
    }

    // The sizes trays commonly ask for; any other size is drawn as well.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(48, 48), QSize(64, 64)};
    }

    QIconEngine *clone() const override { return new SymbolIconEngine(m_symbol, m_color); }

private:
    QString m_symbol;
    QColor m_color;
};

} // namespace

StatusIcon launchIcon()
{
    return {statusLook(SyncStatus::loggedOut).symbol, QStringLiteral("Tornel"), std::nullopt};
}

StatusIcon statusIcon(SyncStatus status)
{
    const StatusLook look = statusLook(status);
    return {look.symbol, look.trayDescription, look.trayColor};
}

TrayStatusItem::TrayStatusItem(QObject *parent) : StatusItem(parent)
{
    connect(&m_trayAvailability, &TrayAvailability::trayAvailable, this, &TrayStatusItem::updateTrayIcon);
    connect(&m_trayAvailability, &TrayAvailability::trayAvailable, this, &StatusItem::trayAppeared);
    if (!m_trayAvailability.isTrayAvailable()) {
        std::fputs("Tornel: waiting for a system tray to show the icon\n", stderr);
        QTimer::singleShot(trayGrace, this, [this] {
            if (!m_trayAvailability.isTrayAvailable())
                emit trayMissing();
        });
    }
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
    if (!m_icon || !m_trayAvailability.isTrayAvailable())
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

#include "moc_tray_status_item.cpp"
