#pragma once

#include <QColor>

#include <algorithm>
#include <cmath>

// WCAG's contrast between two colours: 4.5:1 for text, 3:1 for graphics.
namespace Contrast {

inline double luminance(QRgb pixel)
{
    const auto linear = [](int c) { return c <= 10 ? c / 3294.6 : std::pow((c / 255.0 + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel)) + 0.0722 * linear(qBlue(pixel));
}

inline double ratio(double a, double b)
{
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// `front`, with its alpha, laid over the opaque `back`.
inline double ratio(const QColor &front, const QColor &back)
{
    const qreal a = front.alphaF();
    const QColor laid =
        QColor::fromRgbF(front.redF() * a + back.redF() * (1 - a), front.greenF() * a + back.greenF() * (1 - a),
                         front.blueF() * a + back.blueF() * (1 - a));
    return ratio(luminance(laid.rgb()), luminance(back.rgb()));
}

} // namespace Contrast
