#include "views/text_style.h"

#include <QApplication>
#include <QFontInfo>
#include <QWidget>

namespace {

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
