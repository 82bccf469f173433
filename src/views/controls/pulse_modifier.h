#pragma once

#include <QObject>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>

class QGraphicsOpacityEffect;
class QWidget;

// Makes one widget pulse, fading between full and 40 % opacity, while
// `isAnimating` is true. Turning it off eases the widget back to full
// opacity; turning it on again restarts the pulse. The drawn opacity lives
// with the modifier, so rebuilding what is inside the widget keeps it.
class PulseModifier : public QObject {
    Q_OBJECT
public:
    static constexpr int pulseHalfCycleMs = 800;
    static constexpr int settleMs = 350;
    static constexpr qreal dimmedOpacity = 0.4;

    // Installs an opacity effect on `target`; the modifier is its child.
    PulseModifier(QWidget *target, bool isAnimating);

    bool isAnimating() const { return m_isAnimating; }
    void setAnimating(bool animating);

    qreal opacity() const;
    // Whether the repeating fade is under way (it pauses while the widget is hidden).
    bool isPulsing() const { return m_pulse.state() != QAbstractAnimation::Stopped; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void startPulse();
    void settle();

    QWidget *m_target;
    QGraphicsOpacityEffect *m_effect;
    bool m_isAnimating = false;
    QSequentialAnimationGroup m_pulse;
    QPropertyAnimation *m_fadeOut;
    QPropertyAnimation *m_fadeBack;
    QPropertyAnimation m_settle;
};
