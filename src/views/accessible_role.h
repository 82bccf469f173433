#pragma once

#include <QAccessible>

class QWidget;

// Gives `widget` the accessible role `role` in place of the one Qt derives
// from its class, where that says too little: a frameless window or a plain
// container reads as "filler", a title as plain text. Its name stays its
// accessible name (a window's title when it has none).
void setAccessibleRole(QWidget *widget, QAccessible::Role role);
