#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where a panel of `size` goes on a screen whose free area is `available`:
// centred under the tray icon when its geometry is known (`trayIcon` not
// empty), else at the pointer; above the anchor instead when the anchor sits
// in the lower half of the screen, as with a bottom panel; and always wholly
// inside `available`.
QRect popoverGeometry(QSize size, QRect trayIcon, QPoint pointer, QRect available);
