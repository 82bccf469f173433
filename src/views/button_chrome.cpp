#include "views/button_chrome.h"

#include "views/named_color.h"

#include <QKeyEvent>
#include <QPainter>

namespace ButtonChrome {

bool isPlainReturn(const QKeyEvent *event)
{
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    return returnKey && modifiers == Qt::NoModifier;
}

void paintFocusRing(QPainter &painter, const QRectF &rect, const QPalette &palette)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QColor ring = resolveColor(NamedColor::accent, palette);
    ring.setAlphaF(0.8);
    painter.setPen(QPen(ring, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), 5, 5);
    painter.restore();
}

} // namespace ButtonChrome
