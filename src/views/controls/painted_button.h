#pragma once

#include "views/panel_style.h"

#include <QAbstractButton>
#include <QVariantAnimation>

// The base of our custom-painted buttons: Space activates them, and the one
// with focus shows a focus ring once the keyboard has been used in its window
// since the window last showed: a panel opened by a click shows none, though
// its first control has focus for screen readers. Return is left to the
// enclosing form, whose default action it is.
class PaintedButton : public QAbstractButton {
    Q_OBJECT
public:
    using QAbstractButton::QAbstractButton;

    bool showsFocusRing() const;

protected:
    bool event(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void showEvent(QShowEvent *event) override;
};

// A borderless button showing only a symbol, such as the login form's back
// control. Its accessible name says what the symbol means.
class SymbolButton : public PaintedButton {
    Q_OBJECT
public:
    SymbolButton(const QString &symbolName, NamedColor color, const QString &accessibleName, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbolName;
    NamedColor m_color;
};

// The title of a collapsible section: a triangle pointing right (collapsed)
// or down (expanded) and the title, drawn flat. It is checkable; checked
// means expanded, and screen readers hear it as expanded or collapsed.
class DisclosureButton : public PaintedButton {
    Q_OBJECT
public:
    explicit DisclosureButton(const QString &title, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int indicatorSize() const;
};

// A full-width button filled with the accent colour. While busy it shows a
// small spinning indicator before its text, is drawn faded and reads as busy
// to screen readers, yet keeps keyboard focus; disabled, it is drawn faded
// and takes no clicks.
class ProminentButton : public PaintedButton {
    Q_OBJECT
public:
    explicit ProminentButton(const QString &text, QWidget *parent = nullptr);

    bool isBusy() const { return m_busy; }
    void setBusy(bool busy);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int spinnerSize() const;
    void updateSpinner();

    bool m_busy = false;
    QVariantAnimation m_spin;
};
