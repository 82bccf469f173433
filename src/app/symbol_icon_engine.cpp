#include "app/symbol_icon_engine.h"

#include "views/symbols.h"

#include <QPainter>

#include <algorithm>

SymbolIconEngine::SymbolIconEngine(QString symbol, QColor color) : m_symbol(std::move(symbol)), m_color(color) {}

void SymbolIconEngine::paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State)
{
    const int side = std::min(rect.width(), rect.height());
    const QPixmap image = Symbols::pixmap(m_symbol, m_color, side, painter->device()->devicePixelRatioF());
    if (image.isNull())
        return;
    QRect target(0, 0, side, side);
    target.moveCenter(rect.center());
    painter->drawPixmap(target, image);
}

QPixmap SymbolIconEngine::pixmap(const QSize &size, QIcon::Mode, QIcon::State)
{
    return Symbols::pixmap(m_symbol, m_color, std::min(size.width(), size.height()));
}

QList<QSize> SymbolIconEngine::availableSizes(QIcon::Mode, QIcon::State)
{
    return {QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(48, 48), QSize(64, 64)};
}

QIconEngine *SymbolIconEngine::clone() const
{
    return new SymbolIconEngine(m_symbol, m_color);
}
