#pragma once

#include "views/named_color.h"
#include "views/painted_button.h"

// A borderless button showing only a symbol, such as the login form's back
// control. Its accessible name says what the symbol means.
class SymbolButton : public PaintedButton {
    Q_OBJECT
public:
    SymbolButton(const QString &symbolName, NamedColor color, int symbolSize, const QString &accessibleName,
                 QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbolName;
    NamedColor m_color;
    int m_symbolSize;
};
