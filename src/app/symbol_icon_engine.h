#pragma once

#include <QColor>
#include <QIconEngine>

// An icon drawn from a symbol at whatever size and pixel ratio is asked for,
// so the tray gets a sharp image at its own size rather than a scaled one.
class SymbolIconEngine : public QIconEngine {
public:
    SymbolIconEngine(QString symbol, QColor color);

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    // The sizes trays commonly ask for; any other size is drawn as well.
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QIconEngine *clone() const override;

private:
    QString m_symbol;
    QColor m_color;
};
