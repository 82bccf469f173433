#include "app/tornel_app.h"

#include "app/app_delegate.h"

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

std::optional<int> TornelApp::answerInformationalOptions(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    defineOptions(parser);
    // Qt's own options are not known here; they are checked after the GUI takes them.
    parser.parse(arguments);
    if (!parser.isSet(QStringLiteral("help")) && !parser.isSet(QStringLiteral("version")))
        return std::nullopt;
    QCoreApplication information(argc, argv);
    describeApplication();
    if (parser.isSet(QStringLiteral("help"))) {
        // Described again once the texts can be translated.
        const Translations translations;
        QCommandLineParser described;
        defineOptions(described);
        std::fputs(qPrintable(described.helpText()), stdout);
    } else {
        std::printf("%s %s\n", qPrintable(applicationName()), qPrintable(applicationVersion()));
    }
    return 0;
}

bool TornelApp::acceptsCommandLine() const
{
    QCommandLineParser parser;
    defineOptions(parser);
    if (parser.parse(arguments()) && parser.positionalArguments().isEmpty())
        return true;
    const QString problem = parser.errorText().isEmpty()
        ? QCoreApplication::translate("TornelApp", "Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst())
        : parser.errorText();
    std::fprintf(stderr, "%s\n\n%s", qPrintable(problem), qPrintable(parser.helpText()));
    return false;
}

int TornelApp::run(AppDelegate &delegate)
{
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    connect(this, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    exec();
    return 0;
}
