#include "views/command_row.h"

#include "views/button_chrome.h"
#include "views/symbols.h"
#include "views/text_style.h"

#include <QPainter>

namespace {

constexpr int horizontalInset = 16;
constexpr int verticalInset = 6;
constexpr int symbolFrameWidth = 20;
constexpr int symbolTitleSpacing = 10;

} // namespace

CommandRow::CommandRow(PanelCommand command, QWidget *parent) : PaintedButton(parent), m_command(command)
{
    setText(commandLook(command).title);
    setFont(textStyleFont(TextStyle::body));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Focus from the keyboard only: a click leaves focus where it was.
    setFocusPolicy(Qt::TabFocus);
}

QRect CommandRow::labelRect() const
{
    return rect().adjusted(horizontalInset, verticalInset, -horizontalInset, -verticalInset);
}

QSize CommandRow::sizeHint() const
{
    const int labelHeight = qMax(fontMetrics().height(), symbolSize(font()));
    const int labelWidth = symbolFrameWidth + symbolTitleSpacing + fontMetrics().horizontalAdvance(text());
    return {labelWidth + 2 * horizontalInset, labelHeight + 2 * verticalInset};
}

QSize CommandRow::minimumSizeHint() const
{
    return sizeHint();
}

void CommandRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect label = labelRect();
    if (showsFocusRing())
        ButtonChrome::paintFocusRing(painter, QRectF(label).adjusted(-6, -3, 6, 3), palette());
    if (isDown())
        painter.setOpacity(ButtonChrome::pressedOpacity);

    const PanelCommandLook look = commandLook(m_command);
    const int size = symbolSize(font());
    const QPixmap symbol = Symbols::pixmap(look.symbol, resolveColor(look.symbolColor, palette()), size,
                                           painter.device()->devicePixelRatioF());
    if (!symbol.isNull()) {
        const QRect frame(label.left(), label.top(), symbolFrameWidth, label.height());
        QRect target(0, 0, size, size);
        target.moveCenter(frame.center());
        painter.drawPixmap(target, symbol);
    }

    const QRect titleRect = label.adjusted(symbolFrameWidth + symbolTitleSpacing, 0, 0, 0);
    painter.setPen(resolveColor(NamedColor::primaryLabel, palette()));
    painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text(), Qt::ElideRight, titleRect.width()));
}

bool CommandRow::hitButton(const QPoint &pos) const
{
    return labelRect().contains(pos);
}
