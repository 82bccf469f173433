#pragma once

#include "app/single_instance.h"

#include <QByteArray>
#include <QDateTime>
#include <QCoreApplication>
#include <QString>

#include <optional>
#include <variant>

class QCommandLineParser;
class SyncState;

// A command given on the command line: --status (with --json), --pause,
// --resume, --quit. It is carried out by the running companion when there is
// one, so its icon and panel follow at once, and else by the daemon's socket
// directly; it never starts a companion or a daemon.
class RemoteCommand {
    Q_DECLARE_TR_FUNCTIONS(RemoteCommand)
public:
    enum class Kind { status, pause, resume, quit };

    static void defineOptions(QCommandLineParser &parser);
    // The command the parsed line asks for; none for a plain start (--open is
    // one); or why the line is refused: mixed commands, --json without
    // --status, an argument other than the duration of --pause.
    using Parsed = std::variant<std::monostate, RemoteCommand, QString>;
    static Parsed fromParser(const QCommandLineParser &parser);

    // Prints the outcome (results on standard output, reasons on standard
    // error) and returns the exit status.
    int run() const;

    // In the companion: answers a later start's request line.
    static void answer(SyncState &state, const QByteArray &request, const SingleInstance::Reply &reply);

private:
    RemoteCommand(Kind kind, bool json, std::optional<QDateTime> until = std::nullopt)
        : m_kind(kind), m_json(json), m_until(std::move(until))
    {}

    QByteArray request() const;

    int runThroughCompanion(const QByteArray &answer) const;
    int runAgainstDaemon() const;

    Kind m_kind;
    bool m_json;
    // The end of a pause, for --pause DURATION.
    std::optional<QDateTime> m_until;
};
