#include "views/controls/elided_wrapped_label.h"

#include "views/panel_style.h"

#include <QPainter>
#include <QTextLayout>

ElidedWrappedLabel::ElidedWrappedLabel(int maxLines, QWidget *parent) : QLabel(parent), m_maxLines(qMax(1, maxLines))
{
    setTextFormat(Qt::PlainText);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QStringList ElidedWrappedLabel::visibleLines(int width) const
{
    // QTextLayout breaks lines only at the Unicode line separator.
    QString content = text();
    content.replace(QLatin1Char('\n'), QChar::LineSeparator);
    if (content.isEmpty() || width <= 0)
        return {};
    QTextLayout layout(content, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == m_maxLines - 1) {
            // The last line we may show takes everything left, elided.
            const QString rest = content.mid(line.textStart()).simplified();
            lines << fontMetrics().elidedText(rest, Qt::ElideRight, width);
            break;
        }
        lines << content.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

int ElidedWrappedLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const int textWidth = width - margins.left() - margins.right();
    const qsizetype lines = qMax<qsizetype>(1, visibleLines(textWidth).size());
    return int(lines) * fontMetrics().lineSpacing() - fontMetrics().leading() + margins.top() + margins.bottom();
}

QSize ElidedWrappedLabel::sizeHint() const
{
    // Ask for the text's natural one-line width, but no more than a panel's.
    const QMargins margins = contentsMargins();
    const int width = qMin(fontMetrics().horizontalAdvance(text()) + 1 + margins.left() + margins.right(), panelWidth);
    return {width, heightForWidth(width)};
}

QSize ElidedWrappedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return {margins.left() + margins.right(), fontMetrics().height() + margins.top() + margins.bottom()};
}

void ElidedWrappedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.setFont(font());
    const QRect area = contentsRect();
    const QStringList lines = visibleLines(area.width());
    // Place the block of lines by the label's vertical alignment, as QLabel does.
    const int blockHeight = int(lines.size()) * fontMetrics().lineSpacing() - fontMetrics().leading();
    int top = area.top();
    if (alignment() & Qt::AlignBottom)
        top = area.bottom() + 1 - blockHeight;
    else if (!(alignment() & Qt::AlignTop))
        top = area.top() + (area.height() - blockHeight) / 2;
    int baseline = top + fontMetrics().ascent();
    for (const QString &line : lines) {
        painter.drawText(area.left(), baseline, line);
        baseline += fontMetrics().lineSpacing();
    }
}

#include "moc_elided_wrapped_label.cpp"
