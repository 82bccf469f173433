#pragma once

#include "views/named_color.h"

#include <QFont>

class QWidget;

// The panel's text styles, sized relative to the application's body font so
// that they follow the desktop's font settings.
enum class TextStyle { title2, title3, headline, body, bodyMedium, caption, caption2 };

QFont textStyleFont(TextStyle style, const QFont &bodyFont);
// textStyleFont() against the application's current font.
QFont textStyleFont(TextStyle style);

// The edge length, in device-independent pixels, of a symbol set "at" a text
// style: a little taller than the style's letters, as symbols beside text are.
int symbolSize(const QFont &font);

// Sets a label-like widget's font to `style` and its text colour to `color`.
void applyTextStyle(QWidget *widget, TextStyle style, NamedColor color = NamedColor::primaryLabel);
