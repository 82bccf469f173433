#include "views/prominent_button.h"

#include "views/button_chrome.h"
#include "views/named_color.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int labelVerticalInset = 6;
constexpr int bezelPadding = 2;
constexpr int spinnerSpacing = 4;
constexpr qreal cornerRadius = 6;

} // namespace

ProminentButton::ProminentButton(const QString &text, QWidget *parent) : PaintedButton(parent)
{
    setText(text);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_spin.setStartValue(0.0);
    m_spin.setEndValue(360.0);
    m_spin.setDuration(1000);
    m_spin.setLoopCount(-1);
    connect(&m_spin, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
}

void ProminentButton::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    updateSpinner();
    update();
}

int ProminentButton::spinnerSize() const
{
    return fontMetrics().ascent();
}

QSize ProminentButton::sizeHint() const
{
    const int height = fontMetrics().height() + 2 * (labelVerticalInset + bezelPadding);
    return {spinnerSize() + spinnerSpacing + fontMetrics().horizontalAdvance(text()) + 4 * labelVerticalInset, height};
}

QSize ProminentButton::minimumSizeHint() const
{
    return sizeHint();
}

void ProminentButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bezel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

    QColor fill = resolveColor(NamedColor::accent, palette());
    QColor label = palette().color(QPalette::Active, QPalette::HighlightedText);
    if (!isEnabled()) {
        fill.setAlphaF(0.45);
        label.setAlphaF(0.8);
    } else if (isDown()) {
        fill = fill.darker(125);
    }
    QPainterPath shape;
    shape.addRoundedRect(bezel, cornerRadius, cornerRadius);
    painter.fillPath(shape, fill);
    if (showsFocusRing())
        ButtonChrome::paintFocusRing(painter, bezel.adjusted(-0.5, -0.5, 0.5, 0.5), palette());

    const int textWidth = fontMetrics().horizontalAdvance(text());
    const int contentWidth = m_busy ? spinnerSize() + spinnerSpacing + textWidth : textWidth;
    int x = (width() - contentWidth) / 2;
    if (m_busy) {
        const int size = spinnerSize();
        const QRectF arc(x + 1, (height() - size) / 2.0 + 1, size - 2, size - 2);
        painter.setPen(QPen(label, 2, Qt::SolidLine, Qt::RoundCap));
        // An open ring turning once a second.
        painter.drawArc(arc, int(-m_spin.currentValue().toReal() * 16), 270 * 16);
        x += size + spinnerSpacing;
    }
    painter.setPen(label);
    painter.drawText(QRect(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

void ProminentButton::showEvent(QShowEvent *event)
{
    PaintedButton::showEvent(event);
    updateSpinner();
}

void ProminentButton::hideEvent(QHideEvent *event)
{
    PaintedButton::hideEvent(event);
    updateSpinner();
}

void ProminentButton::updateSpinner()
{
    // Spin only while it can be seen.
    if (m_busy && isVisible())
        m_spin.start();
    else
        m_spin.stop();
}
