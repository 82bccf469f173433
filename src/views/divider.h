#pragma once

#include <QWidget>

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
