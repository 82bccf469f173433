#include "fault_injector.h"

#include "request_handler.h"
#include "sim_log.h"

#include <QTimer>

#include <array>
#include <csignal>
#include <utility>

#include <unistd.h>

namespace {

using namespace Qt::StringLiterals;

// Just past the client's 1 MiB receive buffer.
constexpr qsizetype oversize = 1024 * 1024 + 64 * 1024;
constexpr int maxHangMs = 12'000;

const QByteArray garbage = "this is not a JSON answer\n"_ba;

QString label(quint64 connection)
{
    return u"connection %1"_s.arg(connection);
}

} // namespace

FaultInjector::FaultInjector(const SimConfig &config, RequestHandler &handler, QObject *parent)
    : QObject(parent), m_config(config), m_handler(handler), m_random(config.chaosSeed.value_or(0))
{
}

Delivery FaultInjector::deliver(const QByteArray &requestLine, quint64 connection)
{
    if (m_config.chaosSeed)
        return withChaos(requestLine, connection);
    if (m_config.fault != SimConfig::Fault::none)
        return withFault(m_config.fault, requestLine, connection);
    return Delivery::answer(m_handler.answer(requestLine));
}

void FaultInjector::start()
{
    if (m_config.chaosSeed) {
        simLog(u"Chaos mode: seed %1, rate %2, crash rate %3"_s.arg(*m_config.chaosSeed)
                   .arg(m_config.chaosRate)
                   .arg(m_config.chaosCrashRate));
    }
    if (m_config.fault != SimConfig::Fault::none)
        simLog(u"Fault mode: %1"_s.arg(SimConfig::name(m_config.fault)));
    if (!m_config.exitAfterMs)
        return;
    simLog(u"Will exit with status %1 after %2 ms"_s.arg(m_config.exitStatus).arg(*m_config.exitAfterMs));
    QTimer::singleShot(*m_config.exitAfterMs, this, [status = m_config.exitStatus] {
        // Abruptly, socket file left behind, as a daemon that fails would.
        simLog(u"Fault: exiting with status %1 (TORNEL_SIM_EXIT_AFTER_MS)"_s.arg(status));
        ::_exit(status);
    });
}

Delivery FaultInjector::withFault(SimConfig::Fault fault, const QByteArray &requestLine, quint64 connection)
{
    // Only the "error" fault refuses the work; the others do it and then
    // lose or spoil the answer, as a real daemon failing mid-reply would.
    switch (fault) {
    case SimConfig::Fault::none:
        break;
    case SimConfig::Fault::error:
        simLog(u"Fault: %1: answering an error object"_s.arg(label(connection)));
        return Delivery::answer(RequestHandler::failure(requestLine, u"Simulated daemon failure"_s));
    case SimConfig::Fault::close:
        m_handler.answer(requestLine);
        simLog(u"Fault: %1: closing without an answer"_s.arg(label(connection)));
        return {Delivery::Kind::closeWithoutAnswer, {}};
    case SimConfig::Fault::silent:
        m_handler.answer(requestLine);
        simLog(u"Fault: %1: staying silent"_s.arg(label(connection)));
        return {Delivery::Kind::silent, {}};
    case SimConfig::Fault::garbage:
        m_handler.answer(requestLine);
        simLog(u"Fault: %1: answering garbage"_s.arg(label(connection)));
        return Delivery::answer(garbage);
    case SimConfig::Fault::split: {
        Delivery delivery = Delivery::answer(m_handler.answer(requestLine));
        delivery.splitAt = delivery.bytes.size() / 2;
        simLog(u"Fault: %1: answering in two pieces"_s.arg(label(connection)));
        return delivery;
    }
    }
    return Delivery::answer(m_handler.answer(requestLine));
}

Delivery FaultInjector::withChaos(const QByteArray &requestLine, quint64 connection)
{
    if (m_random.generateDouble() < m_config.chaosCrashRate)
        crash(connection);
    if (m_random.generateDouble() >= m_config.chaosRate)
        return Delivery::answer(m_handler.answer(requestLine));

    enum Event { hang, close, garbled, error, split, hugeString, padded, eventCount };
    const auto event = Event(m_random.bounded(int(eventCount)));
    if (event == error) {
        simLog(u"Chaos: %1: error object"_s.arg(label(connection)));
        return Delivery::answer(RequestHandler::failure(requestLine, u"Simulated daemon failure"_s));
    }

    QByteArray answer = m_handler.answer(requestLine);
    switch (event) {
    case hang: {
        Delivery delivery = Delivery::answer(answer);
        delivery.delayMs = int(m_random.bounded(maxHangMs + 1));
        simLog(u"Chaos: %1: hanging %2 ms before answering"_s.arg(label(connection)).arg(delivery.delayMs));
        return delivery;
    }
    case close:
        simLog(u"Chaos: %1: closing without an answer"_s.arg(label(connection)));
        return {Delivery::Kind::closeWithoutAnswer, {}};
    case garbled:
        simLog(u"Chaos: %1: garbage"_s.arg(label(connection)));
        return Delivery::answer(randomGarbage(answer));
    case split: {
        Delivery delivery = Delivery::answer(answer);
        delivery.splitAt = 1 + qsizetype(m_random.bounded(int(answer.size() - 1)));
        delivery.pauseMs = int(m_random.bounded(20, 2000));
        simLog(u"Chaos: %1: two pieces, %2 ms apart"_s.arg(label(connection)).arg(delivery.pauseMs));
        return delivery;
    }
    case hugeString: {
        simLog(u"Chaos: %1: answer over 1 MiB (one huge string)"_s.arg(label(connection)));
        const QByteArray head = R"({"jsonrpc":"2.0","result":{"padding":")"_ba;
        return Delivery::answer(head + QByteArray(oversize, 'x') + "\"}}\n"_ba);
    }
    case padded:
        simLog(u"Chaos: %1: valid answer padded past 1 MiB with spaces"_s.arg(label(connection)));
        answer.chop(1);
        return Delivery::answer(answer + QByteArray(oversize, ' ') + '\n');
    case error:
    case eventCount:
        break;
    }
    return Delivery::answer(answer);
}

QByteArray FaultInjector::randomGarbage(const QByteArray &answer)
{
    switch (m_random.bounded(5)) {
    case 0:
        return garbage;
    case 1: // cut short
        return answer.left(answer.size() / 2);
    case 2: // valid JSON, wrong shape
        return "[1,2,3]\n"_ba;
    case 3: // a well-formed answer whose record does not decode
        return R"({"jsonrpc":"2.0","result":{"state":"Synced","pendingUploads":"3"}})"_ba + '\n';
    default: {
        QByteArray bytes(256, '\0');
        for (char &byte : bytes)
            byte = char(m_random.bounded(256));
        return bytes;
    }
    }
}

void FaultInjector::crash(quint64 connection)
{
    static constexpr std::array<std::pair<int, const char *>, 3> fatalSignals{{
        {SIGKILL, "SIGKILL"},
        {SIGSEGV, "SIGSEGV"},
        {SIGABRT, "SIGABRT"},
    }};
    if (m_random.bounded(2) == 0) {
        const int status = int(m_random.bounded(1, 4));
        simLog(u"Chaos: %1: exiting with status %2"_s.arg(label(connection)).arg(status));
        ::_exit(status);
    }
    const auto [signal, name] = fatalSignals[size_t(m_random.bounded(int(fatalSignals.size())))];
    simLog(u"Chaos: %1: killed by signal %2 (%3)"_s.arg(label(connection)).arg(signal).arg(QLatin1StringView(name)));
    // The default action, not a sanitizer's handler, so the exit shows the signal.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    ::_exit(128 + signal);
}

#include "moc_fault_injector.cpp"
