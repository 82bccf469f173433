#pragma once

#include <QColor>
#include <QPalette>

// A colour chosen by name and resolved against the palette at drawing time,
// so symbols follow a light or dark theme without being rebuilt.
enum class NamedColor { primaryLabel, secondaryLabel, accent, blue, green, yellow, red, gray };

QColor resolveColor(NamedColor color, const QPalette &palette);
