#include "views/panel_style.h"

#include "views/accessible_role.h"

#include <QApplication>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>

namespace {

// Resolves a widget's text colour again whenever its palette changes, as it
// does when the window it is in takes the other scheme.
class TextColor : public QObject {
public:
    static inline const QString name = QStringLiteral("textColor");

    TextColor(QWidget *widget, NamedColor color) : QObject(widget), m_color(color)
    {
        setObjectName(name);
        widget->installEventFilter(this);
        apply(widget);
    }

    void setColor(NamedColor color) { m_color = color; }

    void apply(QWidget *widget) const
    {
        QPalette palette = widget->palette();
        const QColor color = resolveColor(m_color, palette);
        // Setting the palette announces a change again; only a new colour is set.
        if (palette.color(QPalette::WindowText) == color)
            return;
        palette.setColor(QPalette::WindowText, color);
        widget->setPalette(palette);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange)
            apply(static_cast<QWidget *>(watched));
        return false;
    }

private:
    NamedColor m_color;
};

qreal scale(TextStyle style)
{
    switch (style) {
    case TextStyle::title2:
        return 1.3;
    case TextStyle::title3:
        return 1.15;
    case TextStyle::caption:
        return 0.85;
    case TextStyle::caption2:
        return 0.77;
    case TextStyle::headline:
    case TextStyle::body:
    case TextStyle::bodyMedium:
        break;
    }
    return 1.0;
}

QFont::Weight weight(TextStyle style, QFont::Weight bodyWeight)
{
    switch (style) {
    case TextStyle::headline:
        return QFont::DemiBold;
    case TextStyle::bodyMedium:
        return QFont::Medium;
    default:
        return bodyWeight;
    }
}

} // namespace

QFont textStyleFont(TextStyle style, const QFont &bodyFont)
{
    QFont font = bodyFont;
    const qreal factor = scale(style);
    // A body font may be set in points or in pixels; scale whichever it uses.
    if (bodyFont.pointSizeF() > 0)
        font.setPointSizeF(bodyFont.pointSizeF() * factor);
    else if (bodyFont.pixelSize() > 0)
        font.setPixelSize(qMax(1, qRound(bodyFont.pixelSize() * factor)));
    font.setWeight(weight(style, bodyFont.weight()));
    return font;
}

QFont textStyleFont(TextStyle style)
{
    return textStyleFont(style, QApplication::font());
}

int symbolSize(const QFont &font)
{
    return qRound(QFontInfo(font).pixelSize() * 1.2);
}

void applyTextStyle(QWidget *widget, TextStyle style, NamedColor color)
{
    widget->setFont(textStyleFont(style));
    // Found by name: it has no meta-object of its own to be told apart by.
    if (auto *existing =
            static_cast<TextColor *>(widget->findChild<QObject *>(TextColor::name, Qt::FindDirectChildrenOnly))) {
        existing->setColor(color);
        existing->apply(widget);
        return;
    }
    new TextColor(widget, color);
}

QLabel *makeHeading(const QString &text)
{
    auto *heading = new QLabel(text);
    setAccessibleRole(heading, QAccessible::Heading);
    heading->setAccessibleName(text);
    applyTextStyle(heading, TextStyle::headline);
    return heading;
}

namespace ButtonChrome {

bool isPlainReturn(const QKeyEvent *event)
{
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    return returnKey && modifiers == Qt::NoModifier;
}

void paintFocusRing(QPainter &painter, const QRectF &rect, const QPalette &palette)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Opaque: the accent reaches 3:1 against the panel only at full strength.
    painter.setPen(QPen(resolveColor(NamedColor::accent, palette), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), 5, 5);
    painter.restore();
}

} // namespace ButtonChrome

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

#include "moc_panel_style.cpp"
