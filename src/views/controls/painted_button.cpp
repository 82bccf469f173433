#include "views/controls/painted_button.h"

#include "views/symbols.h"

#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOption>

namespace {

constexpr int symbolButtonPadding = 3;
constexpr int disclosureIndicatorSpacing = 4;
constexpr int disclosurePadding = 2;
constexpr int labelVerticalInset = 6;
constexpr int bezelPadding = 2;
constexpr int spinnerSpacing = 4;
constexpr qreal cornerRadius = 6;

// Qt's interface for buttons is private, so the two buttons whose state says
// more than a push button's get one of their own: the disclosure is
// expandable and expanded or collapsed, the prominent button busy while its
// action runs.
class PaintedButtonAccessible : public QAccessibleWidget {
public:
    explicit PaintedButtonAccessible(QAbstractButton *button) : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return button()->text();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (auto *disclosure = qobject_cast<DisclosureButton *>(widget())) {
            state.expandable = true;
            state.expanded = disclosure->isChecked();
            state.collapsed = !disclosure->isChecked();
        } else if (auto *prominent = qobject_cast<ProminentButton *>(widget())) {
            state.busy = prominent->isBusy();
        }
        return state;
    }

    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }

    void doAction(const QString &action) override
    {
        if (action == pressAction())
            button()->click();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
};

QAccessibleInterface *paintedButtonAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("DisclosureButton") || className == QLatin1String("ProminentButton"))
        return new PaintedButtonAccessible(static_cast<QAbstractButton *>(object));
    return nullptr;
}

void installPaintedButtonAccessible()
{
    [[maybe_unused]] static const bool installed = (QAccessible::installFactory(&paintedButtonAccessible), true);
}

void announceStateChange(QWidget *widget, QAccessible::State changed)
{
    QAccessibleStateChangeEvent event(widget, changed);
    QAccessible::updateAccessibility(&event);
}

// Whether the keyboard was used in a window since it last showed: a property
// of the window, as focus moves between buttons and rows are rebuilt.
const char keyboardUsed[] = "tornelKeyboardUsed";

// Forgets the keyboard's use as its window shows again.
class KeyboardUseReset : public QObject {
public:
    static inline const QString name = QStringLiteral("keyboardUseReset");

    explicit KeyboardUseReset(QWidget *window) : QObject(window)
    {
        setObjectName(name);
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            watched->setProperty(keyboardUsed, false);
        return false;
    }
};

void markKeyboardUse(QWidget *window)
{
    if (window->property(keyboardUsed).toBool())
        return;
    window->setProperty(keyboardUsed, true);
    if (QWidget *focused = window->focusWidget())
        focused->update();
}

} // namespace

bool PaintedButton::showsFocusRing() const
{
    return hasFocus() && window()->property(keyboardUsed).toBool();
}

bool PaintedButton::event(QEvent *event)
{
    if (event->type() == QEvent::KeyPress)
        markKeyboardUse(window());
    return QAbstractButton::event(event);
}

void PaintedButton::focusInEvent(QFocusEvent *event)
{
    // Focus that Tab moved here came by a key pressed in another control.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        markKeyboardUse(window());
    QAbstractButton::focusInEvent(event);
}

void PaintedButton::showEvent(QShowEvent *event)
{
    QWidget *window = this->window();
    // Found by name: the filter has no meta-object of its own to be told apart by.
    if (!window->findChild<QObject *>(KeyboardUseReset::name, Qt::FindDirectChildrenOnly))
        new KeyboardUseReset(window);
    QAbstractButton::showEvent(event);
}

SymbolButton::SymbolButton(const QString &symbolName, NamedColor color, const QString &accessibleName, QWidget *parent)
    : PaintedButton(parent), m_symbolName(symbolName), m_color(color)
{
    setAccessibleName(accessibleName);
    setToolTip(accessibleName);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SymbolButton::sizeHint() const
{
    const int side = symbolSize(font()) + 2 * symbolButtonPadding;
    return {side, side};
}

void SymbolButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (showsFocusRing())
        ButtonChrome::paintFocusRing(painter, rect(), palette());
    if (isDown())
        painter.setOpacity(ButtonChrome::pressedOpacity);
    Symbols::paint(painter, rect(), m_symbolName, resolveColor(m_color, palette()), symbolSize(font()));
}

DisclosureButton::DisclosureButton(const QString &title, QWidget *parent) : PaintedButton(parent)
{
    installPaintedButtonAccessible();
    setText(title);
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &DisclosureButton::toggled, this, [this] {
        QAccessible::State changed;
        changed.expanded = changed.collapsed = true;
        announceStateChange(this, changed);
    });
}

int DisclosureButton::indicatorSize() const
{
    return fontMetrics().height() * 2 / 3;
}

QSize DisclosureButton::sizeHint() const
{
    return {indicatorSize() + disclosureIndicatorSpacing + fontMetrics().horizontalAdvance(text())
                + 2 * disclosurePadding,
            fontMetrics().height() + 2 * disclosurePadding};
}

void DisclosureButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect content = rect().adjusted(disclosurePadding, disclosurePadding, -disclosurePadding, -disclosurePadding);
    if (showsFocusRing())
        ButtonChrome::paintFocusRing(painter, QRectF(0, 0, qMin(width(), sizeHint().width()), height()), palette());
    if (isDown())
        painter.setOpacity(ButtonChrome::pressedOpacity);

    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = QRect(content.left(), content.center().y() - indicatorSize() / 2, indicatorSize(), indicatorSize());
    arrow.palette.setColor(QPalette::ButtonText, palette().color(QPalette::WindowText));
    style()->drawPrimitive(isChecked() ? QStyle::PE_IndicatorArrowDown : QStyle::PE_IndicatorArrowRight, &arrow,
                           &painter, this);

    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(content.adjusted(indicatorSize() + disclosureIndicatorSpacing, 0, 0, 0),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}

ProminentButton::ProminentButton(const QString &text, QWidget *parent) : PaintedButton(parent)
{
    installPaintedButtonAccessible();
    setText(text);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_spin.setStartValue(0.0);
    m_spin.setEndValue(360.0);
    m_spin.setDuration(1000);
    m_spin.setLoopCount(-1);
    connect(&m_spin, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
}

void ProminentButton::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    updateSpinner();
    update();
    QAccessible::State changed;
    changed.busy = true;
    announceStateChange(this, changed);
}

int ProminentButton::spinnerSize() const
{
    return fontMetrics().ascent();
}

QSize ProminentButton::sizeHint() const
{
    const int height = fontMetrics().height() + 2 * (labelVerticalInset + bezelPadding);
    return {spinnerSize() + spinnerSpacing + fontMetrics().horizontalAdvance(text()) + 4 * labelVerticalInset, height};
}

QSize ProminentButton::minimumSizeHint() const
{
    return sizeHint();
}

void ProminentButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bezel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

    QColor fill = resolveColor(NamedColor::accent, palette());
    QColor label = palette().color(QPalette::Active, QPalette::HighlightedText);
    if (!isEnabled() || m_busy) {
        fill.setAlphaF(0.45);
        label.setAlphaF(0.8);
    } else if (isDown()) {
        fill = fill.darker(125);
    }
    QPainterPath shape;
    shape.addRoundedRect(bezel, cornerRadius, cornerRadius);
    painter.fillPath(shape, fill);
    if (showsFocusRing())
        ButtonChrome::paintFocusRing(painter, bezel.adjusted(-0.5, -0.5, 0.5, 0.5), palette());

    const int textWidth = fontMetrics().horizontalAdvance(text());
    const int contentWidth = m_busy ? spinnerSize() + spinnerSpacing + textWidth : textWidth;
    int x = (width() - contentWidth) / 2;
    if (m_busy) {
        const int size = spinnerSize();
        const QRectF arc(x + 1, (height() - size) / 2.0 + 1, size - 2, size - 2);
        painter.setPen(QPen(label, 2, Qt::SolidLine, Qt::RoundCap));
        // An open ring turning once a second.
        painter.drawArc(arc, int(-m_spin.currentValue().toReal() * 16), 270 * 16);
        x += size + spinnerSpacing;
    }
    painter.setPen(label);
    painter.drawText(QRect(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

void ProminentButton::showEvent(QShowEvent *event)
{
    PaintedButton::showEvent(event);
    updateSpinner();
}

void ProminentButton::hideEvent(QHideEvent *event)
{
    PaintedButton::hideEvent(event);
    updateSpinner();
}

void ProminentButton::updateSpinner()
{
    // Spin only while it can be seen.
    if (m_busy && isVisible())
        m_spin.start();
    else
        m_spin.stop();
}

#include "moc_painted_button.cpp"
