#pragma once

#include "views/painted_button.h"
#include "views/panel_command.h"

// One command of the panel: symbol, title and the empty room right of the
// title form one flat button. No bezel, no hover highlight, never disabled;
// it dims while pressed, takes focus with Tab and reacts to Return or Space.
// Its title is its accessible name.
class CommandRow : public PaintedButton {
    Q_OBJECT
public:
    explicit CommandRow(PanelCommand command, QWidget *parent = nullptr);

    PanelCommand command() const { return m_command; }
    // The label row (symbol, title, flexible space) inside the row's insets:
    // the part that takes clicks.
    QRect labelRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    PanelCommand m_command;
};
