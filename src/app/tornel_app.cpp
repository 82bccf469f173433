#include "app/tornel_app.h"

#include "app/app_delegate.h"

#include <QTimer>

TornelApp::TornelApp(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tornel"));
    setQuitOnLastWindowClosed(false);
}

int TornelApp::run(AppDelegate &delegate)
{
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    connect(this, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    exec();
    return 0;
}
