#include "views/panel_palette.h"

namespace {

// One colour in each scheme.
struct Pair {
    QRgb light;
    QRgb dark;
};

// The light values are deep enough for 4.5:1 on the light window, the dark
// ones bright enough on the dark window; yellow and gray are only ever
// symbols, which need 3:1, and keep more of their hue.
Pair pair(NamedColor color)
{
    switch (color) {
    case NamedColor::primaryLabel:
        break;
    case NamedColor::secondaryLabel:
        return {0x636366, 0xAEAEB2};
    case NamedColor::accent:
        // The login button's fill under white text (4.5:1) as well as a symbol colour (3:1).
        return {0x0064D2, 0x1F6FD6};
    case NamedColor::blue:
        return {0x0064D2, 0x409CFF};
    case NamedColor::green:
        return {0x1E7A34, 0x30D158};
    case NamedColor::yellow:
        return {0xA67C00, 0xFFD60A};
    case NamedColor::red:
        return {0xC4161C, 0xFF6961};
    case NamedColor::gray:
        return {0x6E6E73, 0x98989D};
    }
    return {0x1C1C1E, 0xF2F2F7};
}

QColor pick(Pair colors, ColorScheme scheme)
{
    return QColor::fromRgb(scheme == ColorScheme::dark ? colors.dark : colors.light);
}

} // namespace

ColorScheme colorSchemeOf(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128 ? ColorScheme::dark : ColorScheme::light;
}

QPalette panelPalette(ColorScheme scheme)
{
    const auto of = [scheme](Pair colors) { return pick(colors, scheme); };
    const QColor text = of(pair(NamedColor::primaryLabel));
    const QColor window = of({0xF2F2F2, 0x242426});
    QPalette palette(text, of({0xE5E5EA, 0x3A3A3C}), of({0xFFFFFF, 0x545458}), of({0xAEAEB2, 0x1C1C1E}),
                     of({0xC7C7CC, 0x2C2C2E}), text, of({0xFFFFFF, 0x000000}), of({0xFFFFFF, 0x2C2C2E}), window);
    palette.setColor(QPalette::ToolTipBase, of({0xFFFFFF, 0x3A3A3C}));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, of({0x6E6E73, 0x98989D}));
    palette.setColor(QPalette::Highlight, of(pair(NamedColor::accent)));
    palette.setColor(QPalette::HighlightedText, QColor(Qt::white));
    palette.setColor(QPalette::Link, of(pair(NamedColor::blue)));
    // Disabled texts fade towards the window, as the buttons' do.
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        QColor faded = text;
        faded.setAlphaF(0.45f);
        palette.setColor(QPalette::Disabled, role, faded);
    }
    return palette;
}

QColor resolveColor(NamedColor color, const QPalette &palette)
{
    return pick(pair(color), colorSchemeOf(palette));
}

QColor panelEdgeColor(const QPalette &palette)
{
    return pick({0x737378, 0x808085}, colorSchemeOf(palette));
}
