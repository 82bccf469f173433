#include "tray/tray_status_item.h"

#include "views/symbols.h"

#include <QCursor>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcTray, "tornel.tray")

namespace {

// A tint's shades on the desktop's panel: bright on a dark one, deep on a
// light one, and for when the panel's brightness is unknown a middle shade
// that reads on either (3:1 or more against #222222, Breeze Light's #CFD2D4
// and #EEEEEE alike): of one luminance, 0.163, their geometric middle.
struct Shades {
    QRgb onDark;
    QRgb onEither;
    QRgb onLight;
};

// Near black, for the rim of filled symbols.
constexpr QRgb rimColor = 0x1C1C1E;

Shades shades(NamedColor color)
{
    switch (color) {
    case NamedColor::primaryLabel:
        break;
    case NamedColor::secondaryLabel:
    case NamedColor::gray:
        return {0xAEAEB2, 0x707075, 0x636366};
    case NamedColor::accent:
    case NamedColor::blue:
        return {0x409CFF, 0x006CE3, 0x0058D0};
    case NamedColor::green:
        return {0x30D158, 0x218139, 0x1E7A34};
    case NamedColor::yellow:
        return {0xFFD60A, 0x8F6B00, 0x8A6500};
    case NamedColor::red:
        return {0xFF453A, 0xD33128, 0xC4161C};
    }
    // Untinted, as text on the panel: near white, gray, near black.
    return {0xF2F2F2, 0x707070, 0x1C1C1E};
}

// The symbol at `side` pixels in `fill`, with a rim in `rim` (when valid)
// around it and across its cut-outs.
QPixmap trayImage(const QString &symbol, const QColor &fill, const QColor &rim, int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        if (rim.isValid()) {
            // The symbol stamped over a disc of offsets: itself, widened.
            const int width = std::max(1, qRound(side / 16.0));
            const QPixmap stamp = Symbols::pixmap(symbol, rim, side);
            for (int dy = -width; dy <= width; ++dy) {
                for (int dx = -width; dx <= width; ++dx) {
                    if (dx * dx + dy * dy <= width * width + width)
                        painter.drawPixmap(dx, dy, stamp);
                }
            }
        }
        painter.drawPixmap(0, 0, Symbols::pixmap(symbol, fill, side));
    }
    // Lines about a pixel wide fall between pixels and fade into the panel;
    // a quarter more coverage on partly covered pixels keeps their colour,
    // as type renderers darken thin stems.
    image.convertTo(QImage::Format_ARGB32);
    for (int y = 0; y < side; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < side; ++x)
            line[x] = qRgba(qRed(line[x]), qGreen(line[x]), qBlue(line[x]), std::min(255, qAlpha(line[x]) * 5 / 4));
    }
    return QPixmap::fromImage(image);
}

// An icon drawn from a symbol at whatever size and pixel ratio is asked for,
// so the tray gets a sharp image at its own size rather than a scaled one.
class SymbolIconEngine : public QIconEngine {
public:
    SymbolIconEngine(QString symbol, QColor fill, QColor rim) : m_symbol(std::move(symbol)), m_fill(fill), m_rim(rim)
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device()->devicePixelRatioF();
        const int side = std::min(rect.width(), rect.height());
        QPixmap image = pixmap(QSize(side, side) * ratio, mode, state);
        image.setDevicePixelRatio(ratio);
        QRect target(0, 0, side, side);
        target.moveCenter(rect.center());
        painter->drawPixmap(target, image);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        return trayImage(m_symbol, m_fill, m_rim, std::min(size.width(), size.height()));
    }

    // The sizes trays commonly ask for; any other size is drawn as well.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(48, 48), QSize(64, 64)};
    }

    QIconEngine *clone() const override { return new SymbolIconEngine(m_symbol, m_fill, m_rim); }

private:
    QString m_symbol;
    QColor m_fill;
    QColor m_rim;
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

QIcon trayIcon(const StatusIcon &icon, Brightness brightness, const StatusItemStyle &style)
{
    if (!Symbols::exists(icon.symbol))
        return {};
    if (style.neutralIconsAreTemplates && (!icon.color || *icon.color == NamedColor::secondaryLabel)) {
        // Only the image's coverage counts; the menu bar chooses the colour.
        QIcon mask(new SymbolIconEngine(icon.symbol, Qt::black, QColor()));
        mask.setIsMask(true);
        return mask;
    }
    const Shades tint = shades(icon.color.value_or(NamedColor::primaryLabel));
    // Filled symbols keep their bright hue on any panel: where it may be
    // light, a dark rim outlines them and draws their marks. Line symbols are
    // too thin for a rim to read; they take the shade for the panel.
    if (icon.symbol.endsWith(u".fill")) {
        const QColor rim = brightness == Brightness::dark ? QColor() : QColor(rimColor);
        return QIcon(new SymbolIconEngine(icon.symbol, tint.onDark, rim));
    }
    const QRgb fill = brightness == Brightness::dark    ? tint.onDark
                      : brightness == Brightness::light ? tint.onLight
                                                        : tint.onEither;
    return QIcon(new SymbolIconEngine(icon.symbol, fill, QColor()));
}

ClickAction clickAction(QSystemTrayIcon::ActivationReason reason, const StatusItemStyle &style)
{
    switch (reason) {
    // A second press soon after the first arrives as a double click.
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        return ClickAction::togglePanel;
    case QSystemTrayIcon::Context:
        // Elsewhere the tray opens the menu it was given by itself.
        return style.menuOnSecondaryClickOnly ? ClickAction::openMenu : ClickAction::none;
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
        break;
    }
    return ClickAction::none;
}

TrayStatusItem::TrayStatusItem(StatusItemStyle style, QObject *parent) : StatusItem(parent), m_style(style)
{
    connect(&m_trayAvailability, &TrayAvailability::trayAvailable, this, &TrayStatusItem::updateTrayIcon);
    connect(&m_trayAvailability, &TrayAvailability::trayAvailable, this, &StatusItem::trayAppeared);
    if (!m_trayAvailability.isTrayAvailable()) {
        qCInfo(lcTray, "waiting for a system tray to show the icon");
        QTimer::singleShot(trayGrace, this, [this] {
            if (!m_trayAvailability.isTrayAvailable())
                emit trayMissing();
        });
    }
    connect(&m_panelBrightness, &PanelBrightness::changed, this, &TrayStatusItem::updateTrayIcon);
}

TrayStatusItem::~TrayStatusItem() = default;

void TrayStatusItem::setIcon(const StatusIcon &icon)
{
    // While the daemon is unreachable every failed poll reports the error
    // again: the same image need not be drawn and handed to the tray anew.
    if (m_icon == icon)
        return;
    m_icon = icon;
    updateTrayIcon();
}

void TrayStatusItem::setContextMenu(QMenu *menu)
{
    m_contextMenu = menu;
    if (m_trayIcon && !m_style.menuOnSecondaryClickOnly)
        m_trayIcon->setContextMenu(menu);
}

void TrayStatusItem::showMessage(const QString &title, const QString &text, bool critical)
{
    // Without a tray there is no icon to show it beside; the panel still tells.
    if (m_trayIcon)
        m_trayIcon->showMessage(title, text, critical ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information);
}

void TrayStatusItem::activated(QSystemTrayIcon::ActivationReason reason)
{
    switch (clickAction(reason, m_style)) {
    case ClickAction::togglePanel:
        emit clicked();
        break;
    case ClickAction::openMenu:
        if (m_contextMenu)
            m_contextMenu->popup(QCursor::pos());
        break;
    case ClickAction::none:
        break;
    }
}

void TrayStatusItem::updateTrayIcon()
{
    if (!m_icon || !m_trayAvailability.isTrayAvailable())
        return;
    if (!m_trayIcon) {
        m_trayIcon = new QSystemTrayIcon(this);
        if (!m_style.menuOnSecondaryClickOnly)
            m_trayIcon->setContextMenu(m_contextMenu);
        connect(m_trayIcon, &QSystemTrayIcon::activated, this, &TrayStatusItem::activated);
        connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this, &StatusItem::messageClicked);
    }

    // An unknown symbol leaves the item without an image rather than a wrong one.
    m_trayIcon->setIcon(trayIcon(*m_icon, m_panelBrightness.brightness(), m_style));
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
