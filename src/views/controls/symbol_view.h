#pragma once

#include "views/panel_style.h"

#include <QWidget>

// One symbol of our set, tinted with a named colour and centred in its frame.
// It is drawn at the painted device's pixel ratio, so it stays sharp on any
// screen and in offscreen renders.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    // `frame` empty: the widget is as large as the symbol.
    SymbolView(const QString &symbolName, NamedColor color, int symbolSize, QSize frame = {}, QWidget *parent = nullptr);

    QString symbolName() const { return m_symbolName; }
    NamedColor color() const { return m_color; }
    void setSymbol(const QString &symbolName, NamedColor color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbolName;
    NamedColor m_color;
    int m_symbolSize;
    QSize m_frame;
};
