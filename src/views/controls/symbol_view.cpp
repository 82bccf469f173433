#include "views/controls/symbol_view.h"

#include "views/symbols.h"

#include <QPainter>

SymbolView::SymbolView(const QString &symbolName, NamedColor color, int symbolSize, QSize frame, QWidget *parent)
    : QWidget(parent), m_symbolName(symbolName), m_color(color), m_symbolSize(symbolSize), m_frame(frame)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::setSymbol(const QString &symbolName, NamedColor color)
{
    if (symbolName == m_symbolName && color == m_color)
        return;
    m_symbolName = symbolName;
    m_color = color;
    update();
}

QSize SymbolView::sizeHint() const
{
    return m_frame.isEmpty() ? QSize(m_symbolSize, m_symbolSize) : m_frame;
}

void SymbolView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    Symbols::paint(painter, rect(), m_symbolName, resolveColor(m_color, palette()), m_symbolSize);
}

#include "moc_symbol_view.cpp"
