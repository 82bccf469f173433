#include "views/panel_style.h"

#include "views/accessible_role.h"

#include <QApplication>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>

namespace {

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

qreal scale(TextStyle style)
{
    switch (style) {
    case TextStyle::title2:
        return 1.3;
    case TextStyle::title3:
        return 1.15;
    case TextStyle::caption:
        return 0.85;
    case TextStyle::caption2:
        return 0.77;
    case TextStyle::headline:
    case TextStyle::body:
    case TextStyle::bodyMedium:
        break;
    }
    return 1.0;
}

QFont::Weight weight(TextStyle style, QFont::Weight bodyWeight)
{
    switch (style) {
    case TextStyle::headline:
        return QFont::DemiBold;
    case TextStyle::bodyMedium:
        return QFont::Medium;
    default:
        return bodyWeight;
    }
}

} // namespace

QColor resolveColor(NamedColor color, const QPalette &palette)
{
    const bool dark = isDark(palette);
    switch (color) {
    case NamedColor::primaryLabel:
        break;
    case NamedColor::secondaryLabel: {
        QColor text = palette.color(QPalette::WindowText);
        text.setAlphaF(text.alphaF() * 0.5f);
        return text;
    }
    case NamedColor::accent:
        return palette.color(QPalette::Highlight);
    case NamedColor::blue:
        return QColor::fromRgb(dark ? 0x0A84FFu : 0x007AFFu);
    case NamedColor::green:
        return QColor::fromRgb(dark ? 0x30D158u : 0x34C759u);
    case NamedColor::yellow:
        return QColor::fromRgb(dark ? 0xFFD60Au : 0xFFCC00u);
    case NamedColor::red:
        return QColor::fromRgb(dark ? 0xFF453Au : 0xFF3B30u);
    case NamedColor::gray:
        return QColor::fromRgb(0x8E8E93u);
    }
    return palette.color(QPalette::WindowText);
}

QFont textStyleFont(TextStyle style, const QFont &bodyFont)
{
    QFont font = bodyFont;
    const qreal factor = scale(style);
    // A body font may be set in points or in pixels; scale whichever it uses.
    if (bodyFont.pointSizeF() > 0)
        font.setPointSizeF(bodyFont.pointSizeF() * factor);
    else if (bodyFont.pixelSize() > 0)
        font.setPixelSize(qMax(1, qRound(bodyFont.pixelSize() * factor)));
    font.setWeight(weight(style, bodyFont.weight()));
    return font;
}

QFont textStyleFont(TextStyle style)
{
    return textStyleFont(style, QApplication::font());
}

int symbolSize(const QFont &font)
{
    return qRound(QFontInfo(font).pixelSize() * 1.2);
}

void applyTextStyle(QWidget *widget, TextStyle style, NamedColor color)
{
    widget->setFont(textStyleFont(style));
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, resolveColor(color, palette));
    widget->setPalette(palette);
}

QLabel *makeHeading(const QString &text)
{
    auto *heading = new QLabel(text);
    setAccessibleRole(heading, QAccessible::Heading);
    heading->setAccessibleName(text);
    applyTextStyle(heading, TextStyle::headline);
    return heading;
}

namespace ButtonChrome {

bool isPlainReturn(const QKeyEvent *event)
{
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    return returnKey && modifiers == Qt::NoModifier;
}

void paintFocusRing(QPainter &painter, const QRectF &rect, const QPalette &palette)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QColor ring = resolveColor(NamedColor::accent, palette);
    ring.setAlphaF(0.8);
    painter.setPen(QPen(ring, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), 5, 5);
    painter.restore();
}

} // namespace ButtonChrome

Divider::Divider(int verticalInset, QWidget *parent) : QWidget(parent), m_verticalInset(verticalInset)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize Divider::sizeHint() const
{
    return {0, 1 + 2 * m_verticalInset};
}

void Divider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.15);
    painter.fillRect(QRect(0, m_verticalInset, width(), 1), line);
}

#include "moc_panel_style.cpp"
