#pragma once

#include <QRect>
#include <QSize>

// Where the panel goes, as plain geometry: the same rule serves the X11
// popup and the compositors that Tornel asks to move it.

// Where a panel of `size` goes on a screen whose free area is `available`,
// hanging from `anchor` (the icon's rectangle, or the one pixel of a click):
// centred on it, below it when it sits in the upper half of the free area
// and above it in the lower half, as from a top or a bottom panel, and
// always wholly inside `available`, so flush with a panel the anchor is on.
QRect popoverGeometry(QSize size, QRect anchor, QRect available);

// Where the icon most likely is when none was seen yet: the far end of the
// desktop's panel, where trays sit, on the edge of `screen` that `available`
// leaves free of it (right end of a top or bottom panel, bottom end of a side
// one). Without a panel that takes space, the top right corner.
QRect edgeAnchor(QRect screen, QRect available);
