#include "views/controls/pulse_modifier.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QWidget>

PulseModifier::PulseModifier(QWidget *target, bool isAnimating)
    : QObject(target), m_target(target), m_effect(new QGraphicsOpacityEffect(target))
{
    m_effect->setOpacity(1.0);
    target->setGraphicsEffect(m_effect);

    // One cycle: from the opacity drawn when the pulse starts down to 40 %
    // and back up, repeated forever, which reads as an autoreversing fade.
    // Cycles after the first run from full opacity, so a pulse restarted
    // halfway through settling still spans the whole range.
    m_fadeOut = new QPropertyAnimation(m_effect, "opacity", &m_pulse);
    m_fadeBack = new QPropertyAnimation(m_effect, "opacity", &m_pulse);
    for (QPropertyAnimation *half : {m_fadeOut, m_fadeBack}) {
        half->setDuration(pulseHalfCycleMs);
        half->setEasingCurve(QEasingCurve::InOutSine);
        m_pulse.addAnimation(half);
    }
    m_pulse.setLoopCount(-1);
    connect(&m_pulse, &QAbstractAnimation::currentLoopChanged, this, [this] { m_fadeOut->setStartValue(1.0); });

    m_settle.setTargetObject(m_effect);
    m_settle.setPropertyName("opacity");
    m_settle.setDuration(settleMs);
    m_settle.setEasingCurve(QEasingCurve::InOutQuad);
    m_settle.setEndValue(1.0);

    // A hidden panel need not keep a 60 Hz animation running.
    target->installEventFilter(this);
    setAnimating(isAnimating);
}

void PulseModifier::setAnimating(bool animating)
{
    if (animating == m_isAnimating)
        return;
    m_isAnimating = animating;
    if (animating)
        startPulse();
    else
        settle();
}

qreal PulseModifier::opacity() const
{
    return m_effect->opacity();
}

void PulseModifier::startPulse()
{
    m_settle.stop();
    const qreal from = m_effect->opacity();
    m_fadeOut->setStartValue(from);
    m_fadeOut->setEndValue(dimmedOpacity);
    m_fadeBack->setStartValue(dimmedOpacity);
    m_fadeBack->setEndValue(1.0);
    m_pulse.start();
    if (!m_target->isVisible())
        m_pulse.pause();
}

void PulseModifier::settle()
{
    m_pulse.stop();
    m_settle.setStartValue(m_effect->opacity());
    m_settle.start();
}

bool PulseModifier::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_target) {
        if (event->type() == QEvent::Hide && m_pulse.state() == QAbstractAnimation::Running)
            m_pulse.pause();
        else if (event->type() == QEvent::Show && m_pulse.state() == QAbstractAnimation::Paused)
            m_pulse.resume();
    }
    return QObject::eventFilter(watched, event);
}

#include "moc_pulse_modifier.cpp"
