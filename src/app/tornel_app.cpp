#include "app/tornel_app.h"

#include "app/app_delegate.h"
#include "app/remote_command.h"

#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

namespace {

void describeApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tornel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TORNEL_VERSION));
}

void defineOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QCoreApplication::translate(
        "TornelApp", "Shows the state of the Tornel sync service in the system tray and keeps its daemon running."));
    // Not addHelpOption(): its --help-all would list Qt's options as ours.
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QCoreApplication::translate("TornelApp", "Displays this help.")});
    parser.addVersionOption();
    RemoteCommand::defineOptions(parser);
}

QString unexpectedArgument(const QCommandLineParser &parser)
{
    return QCoreApplication::translate("TornelApp", "Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst());
}

void refuse(const QString &problem, const QCommandLineParser &parser)
{
    std::fprintf(stderr, "%s\n\n%s", qPrintable(problem), qPrintable(parser.helpText()));
}

} // namespace

TornelApp::TornelApp(int &argc, char **argv) : QApplication(argc, argv)
{
    describeApplication();
    // The desktop entry's name: Wayland's app id, the notifications' desktop
    // entry and the start-at-login entry all follow it.
    setDesktopFileName(QStringLiteral("org.tornel.Tornel"));
    setQuitOnLastWindowClosed(false);
}

std::optional<int> TornelApp::answerWithoutGui(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    defineOptions(parser);
    // Qt's own options are not known here; a plain start checks them after the GUI takes them.
    const bool parsed = parser.parse(arguments);
    const bool informational = parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"));
    if (!informational && std::holds_alternative<std::monostate>(RemoteCommand::fromParser(parser)))
        return std::nullopt;
    QCoreApplication information(argc, argv);
    describeApplication();
    // Described again once the texts can be translated.
    const Translations translations;
    QCommandLineParser described;
    defineOptions(described);
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(described.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(applicationName()), qPrintable(applicationVersion()));
        return 0;
    }
    const RemoteCommand::Parsed command = RemoteCommand::fromParser(parser);
    if (const QString *refusal = std::get_if<QString>(&command)) {
        refuse(*refusal, described);
        return 1;
    }
    if (!parsed) {
        described.parse(arguments); // for the error in the user's language
        refuse(described.errorText(), described);
        return 1;
    }
    return std::get<RemoteCommand>(command).run();
}

bool TornelApp::acceptsCommandLine() const
{
    QCommandLineParser parser;
    defineOptions(parser);
    if (parser.parse(arguments()) && parser.positionalArguments().isEmpty())
        return true;
    refuse(parser.errorText().isEmpty() ? unexpectedArgument(parser) : parser.errorText(), parser);
    return false;
}

int TornelApp::run(AppDelegate &delegate)
{
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    connect(this, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    exec();
    return 0;
}
