#pragma once

#include <QRectF>

class QKeyEvent;
class QPainter;
class QPalette;

// What our flat, custom-drawn buttons share: the keys that activate them and
// the look of keyboard focus and of a press.
namespace ButtonChrome {

// Return or Enter without modifiers (the keypad's Enter carries one of its own).
bool isPlainReturn(const QKeyEvent *event);

// The ring drawn around a button that has keyboard focus.
void paintFocusRing(QPainter &painter, const QRectF &rect, const QPalette &palette);

// The opacity of a button's content while it is held down.
constexpr qreal pressedOpacity = 0.55;

} // namespace ButtonChrome
