#include "app/popover_placement.h"

#include <algorithm>

namespace {

// Moves [start, start + length) into [low, high], preferring `low` when it
// cannot fit.
int clampSpan(int start, int length, int low, int high)
{
    return std::max(low, std::min(start, high - length + 1));
}

} // namespace

QRect popoverGeometry(QSize size, QRect trayIcon, QPoint pointer, QRect available)
{
    const QRect anchor = trayIcon.isEmpty() ? QRect(pointer, QSize(1, 1)) : trayIcon;
    const bool opensUpwards = anchor.center().y() > available.center().y();
    const int x = anchor.center().x() - size.width() / 2;
    const int y = opensUpwards ? anchor.top() - size.height() : anchor.bottom() + 1;
    return {QPoint(clampSpan(x, size.width(), available.left(), available.right()),
                   clampSpan(y, size.height(), available.top(), available.bottom())),
            size};
}
