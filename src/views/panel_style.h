#pragma once

#include "views/panel_palette.h"

#include <QFont>
#include <QRectF>
#include <QString>
#include <QWidget>

class QKeyEvent;
class QLabel;
class QPainter;

// How the panel looks: named colours, text styles, spacing and the chrome of
// our painted buttons.

// The panel's width: the views lay out to it, the window that holds the
// panel is made that wide, and no label asks for more.
inline constexpr int panelWidth = 320;

// The room a row leaves between its items when no spacing is given. Set on
// each row explicitly: a nested layout would otherwise take the spacing of
// its parent column, which is often 0.
inline constexpr int defaultSpacing = 8;

// The panel's text styles, sized relative to the application's body font so
// that they follow the desktop's font settings.
enum class TextStyle { title2, title3, headline, body, bodyMedium, caption, caption2 };

QFont textStyleFont(TextStyle style, const QFont &bodyFont);
// textStyleFont() against the application's current font.
QFont textStyleFont(TextStyle style);

// The edge length, in device-independent pixels, of a symbol set "at" a text
// style: a little taller than the style's letters, as symbols beside text are.
int symbolSize(const QFont &font);

// Sets a label-like widget's font to `style` and its text colour to `color`,
// the colour of the widget's scheme now and after a change of scheme.
void applyTextStyle(QWidget *widget, TextStyle style, NamedColor color = NamedColor::primaryLabel);

// A title in the headline style, which screen readers know as a heading.
QLabel *makeHeading(const QString &text);

// What our flat, custom-drawn buttons share: the keys that activate them and
// the look of keyboard focus and of a press.
namespace ButtonChrome {

// Return or Enter without modifiers (the keypad's Enter carries one of its own).
bool isPlainReturn(const QKeyEvent *event);

// The ring drawn around a button that has keyboard focus.
void paintFocusRing(QPainter &painter, const QRectF &rect, const QPalette &palette);

// The opacity of a button's content while it is held down.
constexpr qreal pressedOpacity = 0.55;

} // namespace ButtonChrome

// A thin separator line across the full width, with optional empty space
// above and below it.
class Divider : public QWidget {
    Q_OBJECT
public:
    explicit Divider(int verticalInset = 0, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_verticalInset;
};
