#include "views/system_colors.h"

namespace {

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

} // namespace

namespace SystemColors {

QColor named(Name name, const QPalette &palette)
{
    const bool dark = isDark(palette);
    switch (name) {
    case Name::blue:
        return QColor::fromRgb(dark ? 0x0A84FFu : 0x007AFFu);
    case Name::green:
        return QColor::fromRgb(dark ? 0x30D158u : 0x34C759u);
    case Name::yellow:
        return QColor::fromRgb(dark ? 0xFFD60Au : 0xFFCC00u);
    case Name::red:
        return QColor::fromRgb(dark ? 0xFF453Au : 0xFF3B30u);
    case Name::gray:
        return QColor::fromRgb(0x8E8E93u);
    }
    return QColor::fromRgb(0x8E8E93u);
}

QColor secondaryLabel(const QPalette &palette)
{
    QColor color = primaryLabel(palette);
    color.setAlphaF(color.alphaF() * 0.5f);
    return color;
}

QColor accent(const QPalette &palette)
{
    return palette.color(QPalette::Highlight);
}

QColor primaryLabel(const QPalette &palette)
{
    return palette.color(QPalette::WindowText);
}

} // namespace SystemColors
