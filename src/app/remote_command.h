#pragma once

#include "app/single_instance.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

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
    // one); or why the line is refused: mixed commands, --json without --status.
    using Parsed = std::variant<std::monostate, RemoteCommand, QString>;
    static Parsed fromParser(const QCommandLineParser &parser);

    // Prints the outcome (results on standard output, reasons on standard
    // error) and returns the exit status.
    int run() const;

    // In the companion: answers a later start's request line.
    static void answer(SyncState &state, const QByteArray &request, const SingleInstance::Reply &reply);

private:
    RemoteCommand(Kind kind, bool json) : m_kind(kind), m_json(json) {}

    int runThroughCompanion(const QByteArray &answer) const;
    int runAgainstDaemon() const;

    Kind m_kind;
    bool m_json;
};
