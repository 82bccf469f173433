#include "views/painted_button.h"

#include "views/button_chrome.h"

#include <QKeyEvent>

void PaintedButton::keyPressEvent(QKeyEvent *event)
{
    if (ButtonChrome::isPlainReturn(event)) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void PaintedButton::focusInEvent(QFocusEvent *event)
{
    m_keyboardFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}
