#pragma once

#include "delivery.h"
#include "sim_config.h"

#include <QByteArray>
#include <QObject>
#include <QRandomGenerator>

class RequestHandler;

// Decides how each request is answered: normally, with the one fault the
// environment asked for, or, in chaos mode, with a fault drawn at random from
// a seeded generator, so that a run can be repeated.
class FaultInjector : public QObject {
    Q_OBJECT
public:
    FaultInjector(const SimConfig &config, RequestHandler &handler, QObject *parent = nullptr);

    // May end the process (chaos mode) instead of returning.
    Delivery deliver(const QByteArray &requestLine, quint64 connection);

    // Says which faults are on and starts the countdown of
    // TORNEL_SIM_EXIT_AFTER_MS, if it is set.
    void start();

private:
    Delivery withFault(SimConfig::Fault fault, const QByteArray &requestLine, quint64 connection);
    Delivery withChaos(const QByteArray &requestLine, quint64 connection);
    QByteArray randomGarbage(const QByteArray &answer);
    [[noreturn]] void crash(quint64 connection);

    SimConfig m_config;
    RequestHandler &m_handler;
    QRandomGenerator m_random;
};
