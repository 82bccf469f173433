#include "views/named_color.h"

#include "views/system_colors.h"

QColor resolveColor(NamedColor color, const QPalette &palette)
{
    using SystemColors::Name;
    switch (color) {
    case NamedColor::primaryLabel:
        return SystemColors::primaryLabel(palette);
    case NamedColor::secondaryLabel:
        return SystemColors::secondaryLabel(palette);
    case NamedColor::accent:
        return SystemColors::accent(palette);
    case NamedColor::blue:
        return SystemColors::named(Name::blue, palette);
    case NamedColor::green:
        return SystemColors::named(Name::green, palette);
    case NamedColor::yellow:
        return SystemColors::named(Name::yellow, palette);
    case NamedColor::red:
        return SystemColors::named(Name::red, palette);
    case NamedColor::gray:
        return SystemColors::named(Name::gray, palette);
    }
    return SystemColors::primaryLabel(palette);
}
