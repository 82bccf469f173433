#pragma once

#include <QAbstractButton>

// The base of our custom-painted buttons: Return or Enter activates them like
// Space does, and they show a focus ring only when focus came from the
// keyboard, not when a window hands its first control focus on opening.
class PaintedButton : public QAbstractButton {
    Q_OBJECT
public:
    using QAbstractButton::QAbstractButton;

protected:
    bool showsFocusRing() const { return hasFocus() && m_keyboardFocus; }

    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    bool m_keyboardFocus = false;
};
