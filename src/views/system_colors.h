#pragma once

#include <QColor>
#include <QPalette>

// The standard named colours, with their fixed values; the dark variants
// apply when the panel's window colour is dark.
namespace SystemColors {

enum class Name { blue, green, yellow, red, gray };

QColor named(Name name, const QPalette &palette);
// The palette's text colour at 50 % opacity.
QColor secondaryLabel(const QPalette &palette);
// The palette's highlight.
QColor accent(const QPalette &palette);
// The palette's text colour.
QColor primaryLabel(const QPalette &palette);

} // namespace SystemColors
