#pragma once

#include <QLabel>

// A label that wraps its text at word boundaries over at most `maxLines`
// lines and elides what does not fit. Its height follows its width, so it
// sits in layouts like a word-wrapped label without demanding the width of
// its longest line. text() and the accessible name keep the whole text.
class ElidedWrappedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedWrappedLabel(int maxLines, QWidget *parent = nullptr);

    // The lines shown at `width`, the last one elided when text was cut.
    QStringList visibleLines(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_maxLines;
};
