#include "views/symbol_button.h"

#include "views/button_chrome.h"
#include "views/symbols.h"

#include <QPainter>

namespace {

constexpr int padding = 3;

} // namespace

SymbolButton::SymbolButton(const QString &symbolName, NamedColor color, int symbolSize,
                           const QString &accessibleName, QWidget *parent)
    : PaintedButton(parent), m_symbolName(symbolName), m_color(color), m_symbolSize(symbolSize)
{
    setAccessibleName(accessibleName);
    setToolTip(accessibleName);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SymbolButton::sizeHint() const
{
    return {m_symbolSize + 2 * padding, m_symbolSize + 2 * padding};
}

void SymbolButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (showsFocusRing())
        ButtonChrome::paintFocusRing(painter, rect(), palette());
    if (isDown())
        painter.setOpacity(ButtonChrome::pressedOpacity);
    const QPixmap symbol = Symbols::pixmap(m_symbolName, resolveColor(m_color, palette()), m_symbolSize,
                                           painter.device()->devicePixelRatioF());
    if (symbol.isNull())
        return;
    QRect target(0, 0, m_symbolSize, m_symbolSize);
    target.moveCenter(rect().center());
    painter.drawPixmap(target, symbol);
}
