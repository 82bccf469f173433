#pragma once

#include "views/painted_button.h"

#include <QVariantAnimation>

// A full-width button filled with the accent colour. While busy it shows a
// small spinning indicator before its text. It reacts to Return and Space
// when focused; disabled, it is drawn faded and takes no clicks.
class ProminentButton : public PaintedButton {
    Q_OBJECT
public:
    explicit ProminentButton(const QString &text, QWidget *parent = nullptr);

    bool isBusy() const { return m_busy; }
    void setBusy(bool busy);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int spinnerSize() const;
    void updateSpinner();

    bool m_busy = false;
    QVariantAnimation m_spin;
};
