#include "views/disclosure_button.h"

#include "views/button_chrome.h"

#include <QPainter>
#include <QStyleOption>

namespace {

constexpr int indicatorSpacing = 4;
constexpr int padding = 2;

} // namespace

DisclosureButton::DisclosureButton(const QString &title, QWidget *parent) : PaintedButton(parent)
{
    setText(title);
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

int DisclosureButton::indicatorSize() const
{
    return fontMetrics().height() * 2 / 3;
}

QSize DisclosureButton::sizeHint() const
{
    return {indicatorSize() + indicatorSpacing + fontMetrics().horizontalAdvance(text()) + 2 * padding,
            fontMetrics().height() + 2 * padding};
}

void DisclosureButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect content = rect().adjusted(padding, padding, -padding, -padding);
    if (showsFocusRing())
        ButtonChrome::paintFocusRing(painter, QRectF(0, 0, qMin(width(), sizeHint().width()), height()), palette());
    if (isDown())
        painter.setOpacity(ButtonChrome::pressedOpacity);

    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = QRect(content.left(), content.center().y() - indicatorSize() / 2, indicatorSize(), indicatorSize());
    arrow.palette.setColor(QPalette::ButtonText, palette().color(QPalette::WindowText));
    style()->drawPrimitive(isChecked() ? QStyle::PE_IndicatorArrowDown : QStyle::PE_IndicatorArrowRight, &arrow,
                           &painter, this);

    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(content.adjusted(indicatorSize() + indicatorSpacing, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     text());
}
