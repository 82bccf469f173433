#include "views/divider.h"

#include <QPainter>

Divider::Divider(int verticalInset, QWidget *parent) : QWidget(parent), m_verticalInset(verticalInset)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize Divider::sizeHint() const
{
    return {0, 1 + 2 * m_verticalInset};
}

void Divider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.15);
    painter.fillRect(QRect(0, m_verticalInset, width(), 1), line);
}
