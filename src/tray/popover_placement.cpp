#include "tray/popover_placement.h"

#include <algorithm>

namespace {

// Moves [start, start + length) into [low, high], preferring `low` when it
// cannot fit.
int clampSpan(int start, int length, int low, int high)
{
    return std::max(low, std::min(start, high - length + 1));
}

} // namespace

QRect popoverGeometry(QSize size, QRect anchor, QRect available)
{
    const bool opensUpwards = anchor.center().y() > available.center().y();
    const int x = anchor.center().x() - size.width() / 2;
    const int y = opensUpwards ? anchor.top() - size.height() : anchor.bottom() + 1;
    return {QPoint(clampSpan(x, size.width(), available.left(), available.right()),
                   clampSpan(y, size.height(), available.top(), available.bottom())),
            size};
}

QRect edgeAnchor(QRect screen, QRect available)
{
    const int top = available.top() - screen.top();
    const int bottom = screen.bottom() - available.bottom();
    const int left = available.left() - screen.left();
    const int right = screen.right() - available.right();
    // The middle of the panel's strip, so the panel opens away from it.
    QPoint point(screen.right(), screen.top() - 1);
    if (bottom > 0 && bottom >= std::max({top, left, right}))
        point = {screen.right(), screen.bottom() - bottom / 2};
    else if (top > 0 && top >= std::max(left, right))
        point = {screen.right(), screen.top() + top / 2};
    else if (left > 0 && left >= right)
        point = {screen.left() + left / 2, screen.bottom()};
    else if (right > 0)
        point = {screen.right() - right / 2, screen.bottom()};
    return {point, QSize(1, 1)};
}
