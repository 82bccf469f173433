#pragma once

#include "state/status_look.h"

#include <QColor>
#include <QPalette>

// The panel's colours. The panel draws in a palette of its own, light or
// dark after the desktop's colour scheme, so that what it says reads the same
// whatever the desktop's theme makes of its roles: texts reach 4.5:1 and
// symbols 3:1 against the panel's background in either scheme.
enum class ColorScheme { light, dark };

// A palette's scheme by its window colour: how a desktop that states no
// preference shows what it uses.
ColorScheme colorSchemeOf(const QPalette &palette);

// The panel's palette in `scheme`.
QPalette panelPalette(ColorScheme scheme);

// A named colour against the palette at drawing time, by the palette's
// scheme alone, so that a widget whose text colour is set follows a change of
// scheme as its window's background does.
QColor resolveColor(NamedColor color, const QPalette &palette);

// The hairline around the panel: it sets a light panel apart from a light
// desktop and a dark panel from a dark one, where the panel's own background
// does not.
QColor panelEdgeColor(const QPalette &palette);
