#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

class QPainter;

// Our single-colour symbol set (SVGs in Qt resources, one per symbol name,
// drawn on a 24-unit grid), tinted at run time.
namespace Symbols {

// Whether a symbol of that name exists.
bool exists(const QString &name);

// The symbol drawn in `color` at `logicalSize` device-independent pixels,
// sharp at `devicePixelRatio`. An unknown name gives a null pixmap.
QPixmap pixmap(const QString &name, const QColor &color, int logicalSize, qreal devicePixelRatio = 1.0);

// Draws the symbol centred in `frame`, sharp at the painter's pixel ratio.
void paint(QPainter &painter, const QRect &frame, const QString &name, const QColor &color, int logicalSize);

} // namespace Symbols
