#pragma once

#include "views/painted_button.h"

// The title of a collapsible section: a triangle pointing right (collapsed)
// or down (expanded) and the title, drawn flat. It is checkable; checked
// means expanded.
class DisclosureButton : public PaintedButton {
    Q_OBJECT
public:
    explicit DisclosureButton(const QString &title, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int indicatorSize() const;
};
